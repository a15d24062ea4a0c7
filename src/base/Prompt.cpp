#include "base/Prompt.h"

#include "base/Translate.h"

#include <cstdio>

namespace qb {

namespace {
StderrPrompt g_stderrPrompt;
IUserPrompt* g_prompt = &g_stderrPrompt;
}  // namespace

IUserPrompt& Prompt() {
  return *g_prompt;
}

IUserPrompt* SetPrompt(IUserPrompt* prompt) {
  IUserPrompt* previous = g_prompt;
  g_prompt = prompt ? prompt : &g_stderrPrompt;
  return previous;
}

MsgResult StderrPrompt::Message(const std::string& text, const std::string& caption, MsgIcon,
                                MsgButtons buttons) {
  const QByteArray shown = TrLines(text).toUtf8();
  if (caption.empty()) {
    std::fprintf(stderr, "%s\n", shown.constData());
  } else {
    std::fprintf(stderr, "%s: %s\n", TrLines(caption).toUtf8().constData(), shown.constData());
  }
  return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

std::optional<std::string> StderrPrompt::OpenFile(const FileDialogSpec&) {
  return std::nullopt;
}
std::optional<std::string> StderrPrompt::SaveFile(const FileDialogSpec&) {
  return std::nullopt;
}

}  // namespace qb
