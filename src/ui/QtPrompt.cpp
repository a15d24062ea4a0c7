#include "ui/QtPrompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
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
std::optional<std::string> RunFileDialog(QWidget* owner, const FileDialogSpec& spec, bool save) {
  QFileDialog dlg(owner, qb::TrLines(spec.title), QString(), QtFilterFromWindows(spec.filter));
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dlg.setDefaultSuffix(QString::fromStdString(spec.defaultExtension));
  if (!spec.initialName.empty()) dlg.selectFile(QString::fromStdString(spec.initialName));
  if (save && !spec.confirmOverwrite) dlg.setOption(QFileDialog::DontConfirmOverwrite);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
  return dlg.selectedFiles().front().toStdString();
}
}  // namespace

std::optional<std::string> QtPrompt::OpenFile(const FileDialogSpec& spec) {
  return RunFileDialog(Owner(), spec, false);
}
std::optional<std::string> QtPrompt::SaveFile(const FileDialogSpec& spec) {
  return RunFileDialog(Owner(), spec, true);
}

}  // namespace qb
