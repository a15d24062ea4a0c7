// An IPv4 address control: four fields of 0 to 255 with dots between them. A proxy's
// host may also be a name or an IPv6 address: typing a character no dotted address
// has (a letter, ":" before the fourth number, "[") or a fifth part turns the control
// into one line of text holding what was typed so far, and emptying that line gives
// the four fields back.
#pragma once

#include <QWidget>

#include <array>

class QLineEdit;
class QStackedLayout;

namespace qb {

class CIpAddressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CIpAddressCtrl(QWidget* parent = nullptr);

  // Empty fields count as 0.
  std::array<int, 4> GetAddress() const;
  void SetAddress(const std::array<int, 4>& fields);
  // Empties the fields and the text, and shows the fields.
  void ClearAddress();
  QLineEdit* Field(int i) const { return m_fields[static_cast<std::size_t>(i)]; }
  // Fills the fields from "a.b.c.d" or "a.b.c.d:port" (blanks around it allowed), or
  // the text from a host name or an IPv6 address, with or without ":port" ("[v6]:port"
  // for an IPv6 address with its port); false, changing nothing, for any other text. A
  // port found is announced. With portRequired, only a text with its port is taken:
  // the port field's paste, where a bare number is the port.
  bool PasteAddress(const QString& text, bool portRequired = false);

  // Whether the control holds a host as text rather than the four fields.
  bool IsHostText() const;
  // The text as typed (trimmed); the dialog reads it with ParseProxyHost.
  QString HostText() const;
  QLineEdit* TextField() const { return m_text; }
  // A row's host: a dotted address in the four fields (as SplitAddressFields reads
  // it), anything else as text.
  void SetHost(const QString& host);

 signals:
  // An address pasted with its port: the dialog's port field takes it.
  void PortPasted(const QString& port);
  // A colon typed after the four numbers: the port follows, in the dialog's port field.
  void PortNext();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shows the text, with the cursor at `cursor` (its end when negative).
  void ShowText(const QString& text, int cursor = -1);
  void ShowFields();
  // The host typed so far into the fields with `typed` put in place of field i's
  // selection: the fields joined by the dots typed between them (a field left after
  // three digits gets none: "2001" fills "200" and "1"). cursor: where typed ends.
  QString FieldsText(int i, const QString& typed, int& cursor) const;

  std::array<QLineEdit*, 4> m_fields{};
  // Whether the user left field i by typing a dot, rather than by its third digit.
  std::array<bool, 3> m_dotAfter{true, true, true};
  QLineEdit* m_text = nullptr;
  QWidget* m_fieldsBox = nullptr;
  QStackedLayout* m_stack = nullptr;
};

}  // namespace qb
