// An IPv4 address control: four fields of 0 to 255 with dots between them.
#pragma once

#include <QWidget>

#include <array>

class QLineEdit;

namespace qb {

class CIpAddressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CIpAddressCtrl(QWidget* parent = nullptr);

  // Empty fields count as 0.
  std::array<int, 4> GetAddress() const;
  void SetAddress(const std::array<int, 4>& fields);
  void ClearAddress();
  QLineEdit* Field(int i) const { return m_fields[static_cast<std::size_t>(i)]; }
  // Fills the fields from "a.b.c.d" or "a.b.c.d:port" (blanks around it allowed);
  // false, changing nothing, for any other text. A port found is announced.
  bool PasteAddress(const QString& text);

 signals:
  // An address pasted with its port: the dialog's port field takes it.
  void PortPasted(const QString& port);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QLineEdit*, 4> m_fields{};
};

}  // namespace qb
