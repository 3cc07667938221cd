// SPDX-License-Identifier: MIT
#include "applicationlook.h"

#include "deferredicon.h"
#include "messagebox.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionComplex>
#include <qdrawutil.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

// Fusion, with what the window's design was drawn for: 13-pixel check marks, frames whose caption
// sits in the top edge, so that the controls placed just below it stay clear of both, and
// message box buttons without icons. Its standard icons are Fusion's, read when first used.
class ClassicStyle final : public QProxyStyle
{
public:
    ClassicStyle()
        : QProxyStyle(QStyleFactory::create(u"Fusion"_s))
    {}

    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return IndicatorSize;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        // Message box buttons carry their caption only.
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    // Standard icons are read when first drawn: the menu bar takes its overflow button's icon as
    // it is made, and this window's menu bar never overflows. Icons that depend on a style option
    // are read at once, as the option does not outlive the call.
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option,
                       const QWidget *widget) const override
    {
        if (option)
            return QProxyStyle::standardIcon(icon, option, widget);
        return QIcon(new DeferredIconEngine([icon, style = QPointer<const ClassicStyle>(this),
                                             widget = QPointer<const QWidget>(widget)] {
            // A style replaced since leaves the icon to the application's style of the moment.
            return style ? style->QProxyStyle::standardIcon(icon, nullptr, widget)
                         : QApplication::style()->standardIcon(icon, nullptr, widget);
        }));
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                         SubControl subControl, const QWidget *widget) const override
    {
        if (const auto *frame = classicFrame(control, option)) {
            const int titleHeight = frame->text.isEmpty() ? 0 : frame->fontMetrics.height();
            switch (subControl) {
            case SC_GroupBoxLabel:
                if (frame->text.isEmpty())
                    return {};
                return {frame->rect.left() + TitleIndent, frame->rect.top(),
                        frame->fontMetrics.horizontalAdvance(frame->text) + 2 * TitlePadding,
                        titleHeight};
            case SC_GroupBoxFrame:
                return frame->rect.adjusted(0, titleHeight / 2, 0, 0);
            case SC_GroupBoxContents:
                return frame->rect.adjusted(EdgeWidth, std::max(titleHeight, EdgeWidth), -EdgeWidth,
                                            -EdgeWidth);
            default:
                break;
            }
        }
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override
    {
        const auto *frame = classicFrame(control, option);
        if (!frame) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
        const QRect edge = subControlRect(control, option, SC_GroupBoxFrame, widget);
        painter->save();
        if (!label.isEmpty())
            painter->setClipRegion(QRegion(frame->rect).subtracted(label));
        // An etched line: dark, with a light line inside it.
        qDrawShadeRect(painter, edge, frame->palette, true, 1, 0);
        painter->restore();
        if (!label.isEmpty()) {
            drawItemText(painter, label, Qt::AlignCenter, frame->palette,
                         frame->state & State_Enabled, frame->text, QPalette::WindowText);
        }
    }

private:
    static constexpr int IndicatorSize = 13;
    static constexpr int TitleIndent = 6;
    static constexpr int TitlePadding = 2;
    static constexpr int EdgeWidth = 2;

    // A frame without a check box of its own; those with one are left to Fusion.
    static const QStyleOptionGroupBox *classicFrame(ComplexControl control,
                                                    const QStyleOptionComplex *option)
    {
        if (control != CC_GroupBox)
            return nullptr;
        const auto *frame = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (!frame || (frame->subControls & SC_GroupBoxCheckBox))
            return nullptr;
        return frame;
    }
};

// Every size the build rendered into the resource, which holds those PNG files only. Each is
// read as PNG outright: an image reader left to find the format itself first loads every image
// format plugin installed to ask it, and a name filter compiles a regular expression.
QIcon applicationIcon()
{
    QIcon icon;
    const QFileInfoList files = QDir(u":/icons"_s).entryInfoList(QDir::Files);
    for (const QFileInfo &file : files) {
        QImageReader reader(file.filePath(), "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QFont applicationFont()
{
    QFont font(u"Liberation Sans"_s, 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void setUpApplication()
{
    QApplication::setApplicationName(QString::fromUtf16(ApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));
    QGuiApplication::setDesktopFileName(u"org.ravelin.Ravelin"_s);
    QApplication::setStyle(new ClassicStyle);
    QApplication::setFont(applicationFont());
    QGuiApplication::setWindowIcon(applicationIcon());
}

} // namespace ravelin
