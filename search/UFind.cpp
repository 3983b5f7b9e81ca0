#include "UFind.h"

TfrmFind *frmFind = nullptr;

TfrmFind::TfrmFind(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QStringLiteral("Поиск"));
    resize(544, 309);
}
