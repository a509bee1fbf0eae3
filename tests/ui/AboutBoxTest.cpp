#include "AboutBox.h"

#include "UiTestSupport.h"

#include <QDialog>
#include <QLabel>
#include <QMainWindow>

#include <gst/gst.h>
#include <gtest/gtest.h>

namespace {

QStringList LabelTexts(QWidget* Box) {
    QStringList Texts;
    for (QLabel* Label : Box->findChildren<QLabel*>())
        if (Label->isVisible() && !Label->text().isEmpty())
            Texts << Label->text();
    return Texts;
}

TEST(AboutBox, ShowsNameVersionPurposeAndLibraryVersionsModally) {
    QMainWindow Owner;
    Owner.show();
    QString Title;
    QStringList Texts;
    bool Modal = false;
    bool OwnedByWindow = false;
    OnNextModal([&](QWidget* Box) {
        Title = Box->windowTitle();
        Texts = LabelTexts(Box);
        Modal = Box->isModal() && Box->objectName() == QLatin1String("AboutBox");
        OwnedByWindow = Box->parentWidget() == &Owner;
        TypeKey(Box, Qt::Key_Escape);
    });
    ShowAboutBox(&Owner);

    EXPECT_TRUE(Modal);
    EXPECT_TRUE(OwnedByWindow);
    EXPECT_EQ(Title, QStringLiteral("About Segmora"));
    // The version comes from project() in the build, nowhere else.
    EXPECT_EQ(SegmoraVersion(), QStringLiteral(SEGMORA_PROJECT_VERSION));
    guint Major = 0, Minor = 0, Micro = 0, Nano = 0;
    gst_version(&Major, &Minor, &Micro, &Nano);
    const QString GStreamer = QStringLiteral("GStreamer %1.%2.%3").arg(Major).arg(Minor).arg(Micro);
    EXPECT_EQ(Texts, AboutLines());
    ASSERT_EQ(Texts.size(), 5) << Texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Texts[0], QStringLiteral("Segmora"));
    EXPECT_EQ(Texts[1], QStringLiteral("Version " SEGMORA_PROJECT_VERSION));
    EXPECT_TRUE(Texts[2].contains(QLatin1String("MP3"))) << Texts[2].toStdString();
    EXPECT_EQ(Texts[3], QStringLiteral("Qt ") + QLatin1String(qVersion()));
    EXPECT_TRUE(Texts[4].startsWith(GStreamer)) << Texts[4].toStdString();
}

TEST(AboutBox, EnterClosesItAndEveryLineFitsTheBox) {
    const std::unique_ptr<QDialog> Box = CreateAboutBox(nullptr);
    Box->show();
    QApplication::processEvents();
    for (QLabel* Label : Box->findChildren<QLabel*>()) {
        if (Label->wordWrap() || Label->text().isEmpty())
            continue;
        // A label narrower than its text would cut it off.
        EXPECT_GE(Label->width(), Label->sizeHint().width()) << Label->text().toStdString();
        EXPECT_TRUE(Box->rect().contains(Label->geometry())) << Label->text().toStdString();
    }
    TypeKey(Box.get(), Qt::Key_Return);
    EXPECT_FALSE(Box->isVisible());
    EXPECT_EQ(Box->result(), QDialog::Accepted);
}

} // namespace
