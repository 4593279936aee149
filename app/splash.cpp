#include "app/splash.h"

#include "app/jpeg_image.h"

#include <QFile>
#include <QLabel>

Tfm *fm = nullptr;

Tfm::Tfm(QWidget *parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    Q_INIT_RESOURCE(images);
    setObjectName(QStringLiteral("fm"));
    setWindowTitle(QStringLiteral("Vanterlo"));
    setFixedSize(492, 316);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 492, 316);
    Image1->setScaledContents(true);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("Vanterlo 食堂进货管理"));
    QFile file(QStringLiteral(":/images/splash.jpg"));
    if (file.open(QIODevice::ReadOnly))
        Image1->setPixmap(QPixmap::fromImage(decodeJpeg(file.readAll())));
}
