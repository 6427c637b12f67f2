#include "capture_settings/cwith_out_path.h"

CWithOutPath::CWithOutPath(QWidget *parent)
    : QDialog(parent)
{
}
