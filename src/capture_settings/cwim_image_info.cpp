#include "capture_settings/cwim_image_info.h"

CWIM_Image_Info::CWIM_Image_Info(QWidget *parent)
    : QDialog(parent)
{
}
