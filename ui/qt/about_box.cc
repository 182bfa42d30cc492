#include "about_box.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "quarnel/version.h"
#include "quarnel_window.h"

namespace quarnel::ui {
namespace {

constexpr int kIconExtent = 32;

}  // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(tr("About Quarnel"));

  auto* icon = new QLabel(this);
  icon->setPixmap(QuarnelIcon().pixmap(kIconExtent, kIconExtent));
  // The designed texts, as the Windows template has them; the build's own
  // version stands on a line of its own, so that a fault report can name it.
  auto* version = new QLabel(tr("Quarnel Ver. 1.0"), this);
  version->setObjectName(QStringLiteral("versionLabel"));
  version->setTextFormat(Qt::PlainText);
  auto* notice = new QLabel(tr("Copyright (C) 2008 Quarnel"), this);
  notice->setObjectName(QStringLiteral("noticeLabel"));
  notice->setTextFormat(Qt::PlainText);
  auto* build = new QLabel(tr("Version %1").arg(QStringLiteral(QUARNEL_VERSION_TEXT)), this);
  build->setObjectName(QStringLiteral("buildLabel"));
  build->setTextFormat(Qt::PlainText);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  // As on Windows: the icon on the left, the three lines beside it, OK at the
  // top right.
  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
  layout->addWidget(version, 0, 1);
  layout->addWidget(notice, 1, 1);
  layout->addWidget(build, 2, 1);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setHorizontalSpacing(layout->horizontalSpacing() * 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quarnel::ui
