// The prompt of the windows: Qt message boxes and file choosers.
#pragma once

#include <QString>

#include "base/Prompt.h"

class QWidget;

namespace qb {

class QtPrompt : public IUserPrompt {
 public:
  // Boxes are shown over the active window, or over parent when none is active.
  explicit QtPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
  void SetParent(QWidget* parent) { m_parent = parent; }

  MsgResult Message(const std::string& text, const std::string& caption, MsgIcon icon,
                    MsgButtons buttons) override;
  std::optional<std::string> OpenFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SaveFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SaveFileOfType(const FileDialogSpec& chooser, int& chosenType) override;

 private:
  QWidget* Owner() const;
  QWidget* m_parent;
};

// "Text (*.txt)|*.txt|All (*.*)|*.*||" to Qt's "Text (*.txt);;All (*.*)".
QString QtFilterFromWindows(const std::string& filter);

}  // namespace qb
