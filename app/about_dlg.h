// The About box: icon, name and version, notice line and the web address
// (none while the project has no public home).
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
