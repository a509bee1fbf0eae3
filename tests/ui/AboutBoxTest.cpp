#include "AboutBox.h"

#include "UiTestSupport.h"

#include <QDialog>
#include <QLabel>
#include <QMainWindow>

#include <gst/gst.h>
#include <gtest/gtest.h>

namespace {

TEST(AboutBox, ShowsNameVersionPurposeAndLibraryVersionsModally) {
    QMainWindow Owner;
    Owner.show();
    QString Title;
    QStringList Texts;
    bool ModalAndOwned = false;
    OnNextModal([&](QWidget* Box) {
        Title = Box->windowTitle();
        for (QLabel* Label : Box->findChildren<QLabel*>())
            if (Label->isVisible() && !Label->text().isEmpty())
                Texts << Label->text();
        ModalAndOwned = Box->isModal() && Box->objectName() == QLatin1String("AboutBox") &&
                        Box->parentWidget() == &Owner;
        TypeKey(Box, Qt::Key_Escape);
    });
    ShowAboutBox(&Owner);

    EXPECT_TRUE(ModalAndOwned);
    EXPECT_EQ(Title, QStringLiteral("About Segmora"));
    ASSERT_EQ(Texts.size(), 5) << Texts.join(QLatin1Char('|')).toStdString();
    // The version comes from project() in the build, nowhere else.
    EXPECT_EQ(Texts, (QStringList{"Segmora", "Version " SEGMORA_PROJECT_VERSION, Texts[2],
                                  QStringLiteral("Qt ") + QLatin1String(qVersion()), Texts[4]}));
    EXPECT_TRUE(Texts[2].contains(QLatin1String("MP3"))) << Texts[2].toStdString();
    guint Major = 0, Minor = 0, Micro = 0, Nano = 0;
    gst_version(&Major, &Minor, &Micro, &Nano);
    EXPECT_TRUE(
        Texts[4].startsWith(QStringLiteral("GStreamer %1.%2.%3").arg(Major).arg(Minor).arg(Micro)))
        << Texts[4].toStdString();
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
