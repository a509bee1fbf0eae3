#include "AboutBox.h"

#include "ToolbarImages.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <gst/gst.h>

namespace {

struct TGFree {
    void operator()(gchar* Text) const { g_free(Text); }
};

QString GStreamerVersion() {
    // No gst_init needed: the version is compiled into the library.
    const std::unique_ptr<gchar, TGFree> Text(gst_version_string());
    return QString::fromUtf8(Text.get());
}

QLabel* AddLabel(QVBoxLayout* Layout, const QString& Name, const QString& Text) {
    auto* Label = new QLabel(Text);
    Label->setObjectName(Name);
    Label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Layout->addWidget(Label);
    return Label;
}

} // namespace

QString SegmoraVersion() {
    return QStringLiteral(SEGMORA_VERSION);
}

QStringList AboutLines() {
    return {
        QStringLiteral("Segmora"),
        QStringLiteral("Version ") + SegmoraVersion(),
        QStringLiteral("Cuts MP3 files into pieces without decoding or re-encoding them: "
                       "whole MPEG audio frames are copied byte for byte."),
        QStringLiteral("Qt ") + QString::fromLatin1(qVersion()),
        GStreamerVersion(),
    };
}

std::unique_ptr<QDialog> CreateAboutBox(QWidget* Owner) {
    auto Box = std::make_unique<QDialog>(Owner);
    Box->setObjectName(QStringLiteral("AboutBox"));
    Box->setWindowTitle(QStringLiteral("About Segmora"));
    Box->setModal(true);

    const QStringList Lines = AboutLines();
    auto* Text = new QVBoxLayout;
    QLabel* Name = AddLabel(Text, QStringLiteral("lblName"), Lines[0]);
    QFont Large = Name->font();
    Large.setPointSizeF(Large.pointSizeF() * 1.6);
    Large.setBold(true);
    Name->setFont(Large);
    AddLabel(Text, QStringLiteral("lblVersion"), Lines[1]);
    Text->addSpacing(Name->fontMetrics().height() / 2);
    QLabel* Purpose = AddLabel(Text, QStringLiteral("lblPurpose"), Lines[2]);
    Purpose->setWordWrap(true);
    // A wrapped label takes the width it is given; give it room for about
    // 45 characters so the box does not come out tall and thin.
    Purpose->setMinimumWidth(Purpose->fontMetrics().averageCharWidth() * 45);
    Text->addSpacing(Name->fontMetrics().height() / 2);
    AddLabel(Text, QStringLiteral("lblQtVersion"), Lines[3]);
    AddLabel(Text, QStringLiteral("lblGStreamerVersion"), Lines[4]);

    auto* Icon = new QLabel;
    Icon->setObjectName(QStringLiteral("imgIcon"));
    Icon->setPixmap(ApplicationIcon().pixmap(64, 64));
    Icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* Body = new QHBoxLayout;
    Body->addWidget(Icon);
    Body->addSpacing(12);
    Body->addLayout(Text, 1);

    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, Box.get(), &QDialog::accept);

    auto* Layout = new QVBoxLayout(Box.get());
    Layout->addLayout(Body);
    Layout->addWidget(Buttons);
    Layout->setSizeConstraint(QLayout::SetFixedSize);
    return Box;
}

void ShowAboutBox(QWidget* Owner) {
    const std::unique_ptr<QDialog> Box = CreateAboutBox(Owner);
    Box->exec();
}
