#pragma once

#include <QWidget>

class TForm1;

// The report form: never shown; it holds the two report layouts over the main window's datasets.
class TForm2 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm2(TForm1 *form1, QWidget *parent = nullptr);
};

extern TForm2 *Form2;
