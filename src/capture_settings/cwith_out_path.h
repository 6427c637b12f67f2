#pragma once

#include <QDialog>

// The exclusion list dialog (template 105).
class CWithOutPath : public QDialog
{
    Q_OBJECT

public:
    explicit CWithOutPath(QWidget *parent = nullptr);
};
