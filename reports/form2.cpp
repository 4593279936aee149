#include "reports/form2.h"

#include "app/form1.h"

TForm2 *Form2 = nullptr;

TForm2::TForm2(TForm1 *, QWidget *parent) : QWidget(parent) { setObjectName(QStringLiteral("Form2")); }

void TForm1::Button5Click() {}
