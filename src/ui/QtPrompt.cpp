#include "ui/QtPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

#include "base/Translate.h"

namespace qb {

QString QtFilterFromWindows(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // Names here need no extension: "*.*" would hide every file without a dot.
    patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    out << QStringLiteral("%1 (%2)").arg(parts[i].section(" (", 0, 0), patterns.simplified());
  }
  return out.join(";;");
}

QWidget* QtPrompt::Owner() const {
  if (QWidget* w = QApplication::activeWindow()) return w;
  return m_parent;
}

MsgResult QtPrompt::Message(const std::string& text, const std::string& caption, MsgIcon icon,
                            MsgButtons buttons) {
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case MsgIcon::Error:
      qicon = QMessageBox::Critical;
      break;
    case MsgIcon::Warning:
      qicon = QMessageBox::Warning;
      break;
    case MsgIcon::Information:
      qicon = QMessageBox::Information;
      break;
    case MsgIcon::Question:
      qicon = QMessageBox::Question;
      break;
    case MsgIcon::None:
      break;
  }
  QMessageBox box(qicon, qb::TrLines(caption), qb::TrLines(text),
                  buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                  Owner());
  box.setObjectName("MessageBox");
  const int r = box.exec();
  if (buttons == MsgButtons::YesNo) return r == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  return MsgResult::Ok;
}

namespace {

// "csv" of "CSV Files (*.csv)"; empty for a file type that names no one extension.
QString FirstExtension(const QString& nameFilter) {
  static const QRegularExpression pattern(QStringLiteral("\\(\\*\\.([A-Za-z0-9]+)"));
  const QRegularExpressionMatch m = pattern.match(nameFilter);
  return m.hasMatch() ? m.captured(1) : QString();
}

std::optional<std::string> RunFileDialog(QWidget* owner, const FileDialogSpec& chooser, bool save,
                                         int* chosenType = nullptr) {
  const QString filters = QtFilterFromWindows(chooser.filter);
  QFileDialog dlg(owner, qb::TrLines(chooser.title), QString(), filters);
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dlg.setDefaultSuffix(QString::fromStdString(chooser.defaultExtension));
  if (save) {
    // A name typed without an extension gets the one of the file type chosen, so that
    // "list" saved as CSV becomes list.csv, not list.pro.
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg, &chooser](const QString& filter) {
      const QString ext = FirstExtension(filter);
      dlg.setDefaultSuffix(ext.isEmpty() ? QString::fromStdString(chooser.defaultExtension) : ext);
    });
  }
  if (!chooser.initialName.empty()) dlg.selectFile(QString::fromStdString(chooser.initialName));
  if (save && !chooser.confirmOverwrite) dlg.setOption(QFileDialog::DontConfirmOverwrite);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
  if (chosenType)
    *chosenType = static_cast<int>(filters.split(QStringLiteral(";;")).indexOf(dlg.selectedNameFilter()));
  return dlg.selectedFiles().front().toStdString();
}

}  // namespace

std::optional<std::string> QtPrompt::OpenFile(const FileDialogSpec& spec) {
  return RunFileDialog(Owner(), spec, false);
}
std::optional<std::string> QtPrompt::SaveFile(const FileDialogSpec& spec) {
  return RunFileDialog(Owner(), spec, true);
}
std::optional<std::string> QtPrompt::SaveFileOfType(const FileDialogSpec& chooser, int& chosenType) {
  chosenType = -1;
  return RunFileDialog(Owner(), chooser, true, &chosenType);
}

}  // namespace qb
