// The About dialog: version, date and a few contact lines.
#pragma once

#include "ui_Aboutswform.h"

#include <QDialog>

class TForm19 : public QDialog, public Ui::AboutLayout {
    Q_OBJECT
public:
    explicit TForm19(QWidget* owner = nullptr);

public slots:
    void OK_ButtonClick(QObject* Sender);
};

extern TForm19* Form19;
