// The resource dialog: name, URL and feature string of one verification resource.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

namespace qb {

class CVerifySourceDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CVerifySourceDlg(QWidget* parent = nullptr);

  // Set before exec() to pre-fill; after it returned Accepted they hold the trimmed
  // texts. The dialog does not look for duplicates: its callers do.
  std::string m_sUrl;
  std::string m_sName;
  std::string m_sFeature;

  int exec() override;

  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* UrlEdit() const { return m_url; }
  QLineEdit* FeatureEdit() const { return m_feature; }

 public slots:
  void accept() override;

 private:
  void OnInitDialog();

  QLineEdit* m_name;
  QLineEdit* m_url;
  QLineEdit* m_feature;
};

}  // namespace qb
