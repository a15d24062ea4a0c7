#include "ui/FirstStartDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Translate.h"
#include "ui/Messages.h"
#include "ui/Resources.h"

namespace qb {

namespace {

constexpr const char* kWelcomeTitle = QT_TRANSLATE_NOOP("Quillberry", "欢迎使用 Quillberry");
constexpr const char* kWelcomeIntro = QT_TRANSLATE_NOOP(
    "Quillberry",
    "Quillberry "
    "收集公共代理服务器，验证哪些今天可以用，并把其中一个设为桌面的系统代理（也可以从托盘菜单切换）。");
constexpr const char* kWelcomeSteps = QT_TRANSLATE_NOOP("Quillberry", "主要的工作只有三步：");
// %1: the caption of the paste button.
constexpr const char* kWelcomeStep1 = QT_TRANSLATE_NOOP(
    "Quillberry", "1. 复制一份代理列表，按“%1”（也可以导入文件，或从列表下方的代理网址下载）。");
// %1: the caption of the button that verifies the whole list.
constexpr const char* kWelcomeStep2 =
    QT_TRANSLATE_NOOP("Quillberry", "2. 按“%1”：每个代理都通过它去取验证资源的网页来检验，列表按速度排序。");
constexpr const char* kWelcomeStep3 = QT_TRANSLATE_NOOP(
    "Quillberry", "3. 选中一个最快的代理，把它设为系统代理（列表右边的按钮，或托盘菜单里的常用代理）。");
// %1: the host names, joined.
constexpr const char* kWelcomeResources = QT_TRANSLATE_NOOP(
    "Quillberry", "缺省的验证资源访问这些公共网站：%1。在【设置】中可以换成自己的验证资源。");
constexpr const char* kWelcomeChoices =
    QT_TRANSLATE_NOOP("Quillberry", "下面两项会改动你的系统，已按缺省设置选好，请确认：");
constexpr const char* kWelcomeMinimised =
    QT_TRANSLATE_NOOP("Quillberry", "以后启动时程序最小化到通知区域（托盘），单击托盘图标即可打开窗口。");
constexpr const char* kWelcomeLater = QT_TRANSLATE_NOOP("Quillberry", "这些都可以随时在【设置】中更改。");
constexpr const char* kWelcomeStart = QT_TRANSLATE_NOOP("Quillberry", "开始使用");
// The same words as the settings dialog's boxes, which keep these choices later.
constexpr const char* kAutoRunText = QT_TRANSLATE_NOOP("Quillberry", "用户登录计算机后自动启动");
constexpr const char* kAutoVerifyText = QT_TRANSLATE_NOOP("Quillberry", "每隔3小时自动验证全部代理");
constexpr const char* kPasteCaption = QT_TRANSLATE_NOOP("Quillberry", "粘贴");

QLabel* TextLine(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

CFirstStartDlg::CFirstStartDlg(const FirstStartChoices& choices, bool startsMinimised,
                               const QStringList& resourceHosts, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("FirstStart"));
  setWindowTitle(qb::Tr(kWelcomeTitle));
  setWindowIcon(qb::ResourceIcon(IDR_MAINFRAME));

  auto* layout = new QVBoxLayout(this);
  QLabel* intro = TextLine(qb::Tr(kWelcomeIntro), this);
  QFont bold = intro->font();
  bold.setBold(true);
  intro->setFont(bold);
  layout->addWidget(intro);
  layout->addSpacing(fontMetrics().height() / 2);
  layout->addWidget(TextLine(qb::Tr(kWelcomeSteps), this));
  for (const QString& step : {qb::Tr(kWelcomeStep1).arg(qb::Tr(kPasteCaption)),
                              qb::Tr(kWelcomeStep2).arg(qb::Tr(kCaptionVerifyAll)), qb::Tr(kWelcomeStep3)}) {
    QLabel* line = TextLine(step, this);
    line->setIndent(fontMetrics().horizontalAdvance(QLatin1Char('M')));
    layout->addWidget(line);
  }
  m_resources = TextLine(qb::Tr(kWelcomeResources).arg(resourceHosts.join(QStringLiteral(", "))), this);
  m_resources->setObjectName(QStringLiteral("WelcomeResources"));
  layout->addWidget(m_resources);
  layout->addSpacing(fontMetrics().height() / 2);

  layout->addWidget(TextLine(qb::Tr(kWelcomeChoices), this));
  m_autoRun = new QCheckBox(qb::Tr(kAutoRunText), this);
  m_autoRun->setObjectName(QStringLiteral("WelcomeAutoRun"));
  m_autoRun->setChecked(choices.autoRun);
  layout->addWidget(m_autoRun);
  m_autoVerify = new QCheckBox(qb::Tr(kAutoVerifyText), this);
  m_autoVerify->setObjectName(QStringLiteral("WelcomeAutoVerify"));
  m_autoVerify->setChecked(choices.autoVerify);
  layout->addWidget(m_autoVerify);
  if (startsMinimised) layout->addWidget(TextLine(qb::Tr(kWelcomeMinimised), this));
  layout->addWidget(TextLine(qb::Tr(kWelcomeLater), this));

  auto* buttons = new QDialogButtonBox(this);
  m_start = buttons->addButton(qb::Tr(kWelcomeStart), QDialogButtonBox::AcceptRole);
  m_start->setObjectName(QStringLiteral("WelcomeStart"));
  m_start->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);

  // Wide enough that the steps read as lines, not as a column of words.
  setMinimumWidth(fontMetrics().averageCharWidth() * 72);
}

FirstStartChoices CFirstStartDlg::Choices() const {
  return {m_autoRun->isChecked(), m_autoVerify->isChecked()};
}

}  // namespace qb
