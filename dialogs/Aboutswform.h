// The About dialog: version, date and a few contact lines. The controls are built when first needed.
#pragma once

#include "ui_Aboutswform.h"

#include <QDialog>

class TForm19 : public QDialog, public Ui::AboutLayout {
    Q_OBJECT
public:
    explicit TForm19(QWidget* owner = nullptr);

    // Builds the controls unless they are built already.
    void buildControls();
    // Builds the controls before the first showing.
    void setVisible(bool visible) override;

public slots:
    void OK_ButtonClick(QObject* Sender);

private:
    bool controlsBuilt_ = false;
};

extern TForm19* Form19;
