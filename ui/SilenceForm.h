#pragma once

// The split at silences' further settings (frmSilence), opened by "More..."
// beside its threshold: the shortest part a cut may leave, and whether the
// silence itself is left out of the parts. Every change is handed on as it
// is made, so that the timeline's preview follows while the dialog is open;
// OK is offered only while the shortest part reads as a time.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class frmSilence;
}

// The shortest part as typed: 0 for an empty box, else a time ("0:30",
// "90"); none when the text is no time.
std::optional<int64_t> ParseMinPartMs(const QString& Text);

class TfrmSilence : public QDialog {
    Q_OBJECT

public:
    TfrmSilence(QWidget* Owner, const QString& MinPart, bool DropSilence);
    ~TfrmSilence() override;

    QString MinPart() const;
    bool DropSilence() const;

    void SetOnChange(std::function<void()> Handler) { FOnChange = std::move(Handler); }

private:
    void Changed();

    std::unique_ptr<Ui::frmSilence> ui;
    std::function<void()> FOnChange;
};
