// The About box: icon, name and version, notice line and web address.
#pragma once

#include <QDialog>

class QLabel;

namespace vurma::app {

class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent);

    QLabel* m_stUrl;
    QLabel* m_stNotice;
    QLabel* m_stName;
};

}  // namespace vurma::app
