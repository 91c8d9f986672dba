#include "altletters.h"

#include <QAbstractButton>
#include <QDialogButtonBox>

void giveAltLetters(QDialogButtonBox *box)
{
    for (QAbstractButton *button : box->buttons()) {
        if (!button->text().contains(QLatin1Char('&')))
            button->setText(QLatin1Char('&') + button->text());
    }
}
