#pragma once

#include <QWidget>

class QLabel;

// The splash window: a borderless 492 x 316 window filled by its picture, shown while the program starts.
class Tfm : public QWidget
{
    Q_OBJECT
public:
    explicit Tfm(QWidget *parent = nullptr);
    QLabel *Image1 = nullptr;
};

extern Tfm *fm;
