#include "about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "analyzer_dlg.h"
#include "app_strings.h"
#include "translation.h"

namespace vurma::app {

namespace {
QRect DuRect(int x, int y, int w, int h) {
    return QRect(DialogUnits(x), DialogUnits(y), DialogUnits(w), DialogUnits(h));
}
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_stUrl(new QLabel(this)),
      m_stNotice(new QLabel(this)),
      m_stName(new QLabel(this)) {
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    setFont(font);
    setWindowTitle(Tr("ﾊﾞｰｼﾞｮﾝ情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(DialogUnits(223), DialogUnits(85));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DuRect(166, 58, 50, 18));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* icon = new QLabel(this);
    icon->setGeometry(DuRect(13, 14, 21, 21));
    const QIcon appIcon(QString::fromLatin1(kIconPath));
    icon->setPixmap(appIcon.pixmap(icon->size()));

    m_stName->setGeometry(DuRect(44, 17, 162, 11));
    m_stNotice->setGeometry(DuRect(17, 40, 189, 10));
    m_stUrl->setGeometry(DuRect(24, 55, 118, 10));
    m_stName->setText(QString::fromLatin1(kStrCaption) + QStringLiteral("  ") +
                      QString::fromLatin1(kStrVersion));
    m_stNotice->setText(QString::fromUtf8(kStrNotice));
    m_stUrl->setText(QString::fromLatin1(kStrUrl));
    m_stUrl->setVisible(!m_stUrl->text().isEmpty());
    ok->setFocus();
}

}  // namespace vurma::app
