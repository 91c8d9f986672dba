#ifndef ALTLETTERS_H
#define ALTLETTERS_H

class QDialogButtonBox;

// Gives each button of a dialog's button box whose text has no Alt letter
// its first letter (OK becomes Alt+O, Cancel Alt+C), so every button works
// from the keyboard as the dialog's own fields do; Space stays Halt.
void giveAltLetters(QDialogButtonBox *box);

#endif // ALTLETTERS_H
