// The local socket of the running window: where it lives, and one request to it.
//
// A request is a header line of tab-separated fields, the verb first, followed by
// body lines when the verb carries them; the answer has the same form. Everything is
// UTF-8, one line per field list, "\n" at the end of each line.
//   show <dir> [<action>] bring the window forward, or do the action ("verify-all",
//                        "cancel-proxy") for its list; an empty <dir> stands for
//                        whichever list it has open; answer: dir <the window's dir>
//   add <dir> <n> [verify]
//                        + n proxy lines: add them to the list of <dir> and save it,
//                        and with "verify" then verify the whole list (a refresh);
//                        answer: added <k> [<why Proxies.pro was not saved>
//                        [verifying|queued]] + the k lines that were new, or refused
//                        <reason> [<the window's dir>]. "queued": a run or a download
//                        was going on, and the whole list is verified once it ends. A
//                        window from before "verify" answers without the last field.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace qb {

// The user's private runtime directory, ending in "/": $XDG_RUNTIME_DIR when it is an
// absolute directory owned by this user that nobody else may enter, otherwise
// <temporary directory>/quillberry-<uid>/ (created with mode 0700; one that exists
// must be a real directory of this user that nobody else may enter). nullopt, with
// the reason in *why, when neither can be had.
std::optional<QString> PrivateRuntimeDir(QString* why = nullptr);

// The window's socket for key (default "Quillberry") in the private runtime
// directory; an absolute key is used as it is. Empty, with *why, when there is no
// private directory.
QString InstanceServerPath(const QString& key = QString(), QString* why = nullptr);

namespace link {
inline const QByteArray kShow = "show";
inline const QByteArray kDir = "dir";
inline const QByteArray kAdd = "add";
inline const QByteArray kAdded = "added";
inline const QByteArray kRefused = "refused";
// The verification that follows an add (a refresh), and how the window took it.
inline const QByteArray kThenVerify = "verify";
inline const QByteArray kVerifying = "verifying";
inline const QByteArray kVerifyQueued = "queued";
// Reasons of a refusal.
inline const QByteArray kOtherDir = "other-dir";
inline const QByteArray kBadRequest = "bad-request";
}  // namespace link

struct LinkMessage {
  QList<QByteArray> header;  // the fields of the header line
  QList<QByteArray> body;
  QByteArray Verb() const { return header.value(0); }
  QByteArray Field(int i) const { return header.value(i); }
};

// The message as it goes over the socket.
QByteArray EncodeLinkMessage(const LinkMessage& message);

// Sends one request and waits up to replyMs for the whole answer. nullopt when no
// window answers at serverPath (none runs, or it did not answer in time).
std::optional<LinkMessage> AskRunningWindow(const QString& serverPath, const LinkMessage& request,
                                            int replyMs = 60000);

// Reads messages from a stream of bytes: Take() hands out each one whole, once its
// body has arrived ("add" and "added" say how many body lines follow; the other verbs
// have none).
class LinkReader {
 public:
  void Append(const QByteArray& bytes) { m_buffer += bytes; }
  std::optional<LinkMessage> Take();

 private:
  QByteArray m_buffer;
};

}  // namespace qb
