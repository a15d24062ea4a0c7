// A message-box double for tests: records every message and answers questions and
// file choosers from a script, so nothing ever waits for a person.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/Prompt.h"

using namespace qb;

namespace qbtest {

struct RecordedMessage {
  std::string text;
  std::string caption;
  qb::MsgIcon icon;
  qb::MsgButtons buttons;
};

class ScriptedPrompt : public qb::IUserPrompt {
 public:
  // Installs itself for its lifetime.
  ScriptedPrompt() : m_previous(qb::SetPrompt(this)) {}
  ~ScriptedPrompt() override { qb::SetPrompt(m_previous); }
  ScriptedPrompt(const ScriptedPrompt&) = delete;
  ScriptedPrompt& operator=(const ScriptedPrompt&) = delete;

  qb::MsgResult Message(const std::string& text, const std::string& caption, qb::MsgIcon icon,
                        qb::MsgButtons buttons) override {
    messages.push_back({text, caption, icon, buttons});
    if (buttons == qb::MsgButtons::YesNo) {
      if (answers.empty()) return qb::MsgResult::No;
      const qb::MsgResult r = answers.front();
      answers.pop_front();
      return r;
    }
    return qb::MsgResult::Ok;
  }
  std::optional<std::string> OpenFile(const qb::FileDialogSpec& spec) override {
    fileDialogs.push_back(spec);
    return Next();
  }
  std::optional<std::string> SaveFile(const qb::FileDialogSpec& spec) override {
    fileDialogs.push_back(spec);
    return Next();
  }
  std::optional<std::string> SaveFileOfType(const qb::FileDialogSpec& chooser, int& chosenType) override {
    chosenType = -1;
    if (!fileTypes.empty()) {
      chosenType = fileTypes.front();
      fileTypes.pop_front();
    }
    return SaveFile(chooser);
  }

  // Answers to Yes/No questions, in order; when empty the answer is No.
  std::deque<qb::MsgResult> answers;
  // Paths to return from file choosers, in order; nullopt (or none left) is a cancel.
  std::deque<std::optional<std::string>> files;
  // The file types a save chooser reports as chosen, in order (index into its
  // filter); when none is left it reports -1, as a chooser that cannot tell.
  std::deque<int> fileTypes;

  std::vector<RecordedMessage> messages;
  std::vector<qb::FileDialogSpec> fileDialogs;

 private:
  std::optional<std::string> Next() {
    if (files.empty()) return std::nullopt;
    auto r = files.front();
    files.pop_front();
    return r;
  }
  qb::IUserPrompt* m_previous;
};

}  // namespace qbtest
