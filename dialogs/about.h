#ifndef ABOUT_H
#define ABOUT_H

#include <QDialog>

namespace Ui {
class About;
}

// Shows a short rich-text notice about the program.
class About : public QDialog
{
    Q_OBJECT

public:
    explicit About(QWidget *parent = nullptr);
    ~About() override;

    void setText(const QString &text);

    // The notice: title, version with build date, copyright and licence line and web link.
    static QString aboutText();

private:
    Ui::About *ui;
};

#endif // ABOUT_H
