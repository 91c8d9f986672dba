#include "about.h"
#include "ui_about.h"

#include "altletters.h"
#include "buildinfo.h"

About::About(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::About)
{
    ui->setupUi(this);
    giveAltLetters(ui->buttonBox);
}

About::~About()
{
    delete ui;
}

void About::setText(const QString &text)
{
    ui->text->setText(text);
}

QString About::aboutText()
{
    return QStringLiteral("<b><big>KesmarControl</big></b><br>"
                          "v" KESMAR_VERSION " %1<br>"
                          "Copyright &copy; Quellmark. Free software under the GNU General Public License, "
                          "version 3 or later, with no warranty.<br>"
                          "<a href=\"https://quellmark.example/\">https://quellmark.example/</a>")
        .arg(QLatin1String(KESMAR_BUILD_DATE));
}
