// The one way the windows talk to the user: messages, questions and file choosers.
//
// The core never calls it: it returns what happened, or takes a callback for a
// question, and the window words it here while the command line prints it. The windows
// install a Qt implementation and tests a scripted double, so no test ever blocks on a
// modal box; until one is installed, messages go to standard error.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace qb {

enum class MsgIcon { None, Error, Warning, Information, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No, Cancel };

// What a file chooser is asked for. The filter uses the Windows form
// "Description|patterns|Description|patterns||".
struct FileDialogSpec {
  std::string title;
  std::string defaultExtension;
  std::string initialName;
  std::string filter;
  bool confirmOverwrite = false;
};

class IUserPrompt {
 public:
  virtual ~IUserPrompt() = default;
  virtual MsgResult Message(const std::string& text, const std::string& caption, MsgIcon icon,
                            MsgButtons buttons = MsgButtons::Ok) = 0;
  // The chosen path, or nullopt when the user cancelled.
  virtual std::optional<std::string> OpenFile(const FileDialogSpec& spec) = 0;
  virtual std::optional<std::string> SaveFile(const FileDialogSpec& spec) = 0;
  // SaveFile that also says which file type of the chooser's filter was chosen,
  // counted from 0 in the filter's order; -1 when the chooser cannot tell, and the name's extension
  // is all there is to go by.
  virtual std::optional<std::string> SaveFileOfType(const FileDialogSpec& chooser, int& chosenType) {
    chosenType = -1;
    return SaveFile(chooser);
  }
};

// The prompt in use. Until one is installed, messages go to standard error and every
// question and file chooser is answered as if cancelled.
IUserPrompt& Prompt();
// Installs a prompt; returns the previous one. Passing nullptr restores the default.
IUserPrompt* SetPrompt(IUserPrompt* prompt);

// Shorthand for a message with one OK button.
inline void ShowMessage(const std::string& text, const std::string& caption, MsgIcon icon) {
  Prompt().Message(text, caption, icon, MsgButtons::Ok);
}

// Writes messages to standard error as "caption: text"; questions answer No.
class StderrPrompt : public IUserPrompt {
 public:
  MsgResult Message(const std::string& text, const std::string& caption, MsgIcon icon,
                    MsgButtons buttons) override;
  std::optional<std::string> OpenFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SaveFile(const FileDialogSpec& spec) override;
};

}  // namespace qb
