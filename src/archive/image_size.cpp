#include "archive/image_size.h"

QString FormatImageSize(quint64 bytes)
{
    double value = double(bytes >> 10);
    QLatin1String unit("KB");
    if (value > 1024) {
        value *= 0.0009765625;
        unit = QLatin1String("MB");
        if (value > 1024) {
            value /= 1024;
            unit = QLatin1String("GB");
        }
    }
    // asprintf is not localised: the decimal point is always ".".
    QString text = QString::asprintf("%0.02f", value);
    if (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
        if (text.endsWith(QLatin1Char('0')))
            text.chop(2);
    }
    return text + unit;
}

QString CompressionLabel(int compression)
{
    switch (compression) {
    case 0: return QStringLiteral("无压缩");
    case 1: return QStringLiteral("快速压缩");
    case 2: return QStringLiteral("最大压缩");
    case 3: return QStringLiteral("LZMS压缩");
    default: return QStringLiteral("未知压缩(%1)").arg(compression);
    }
}
