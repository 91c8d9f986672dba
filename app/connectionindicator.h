#ifndef CONNECTIONINDICATOR_H
#define CONNECTIONINDICATOR_H

#include <QToolButton>

class Panel;

// The status bar's word on the link: the port, the device driven and how far
// the readings can be trusted (or the stage of an ordered move under way),
// with whether limits are on in the tool tip, and the reason while the
// readings are not live. A click, or Enter while it has the focus, asks for a
// reconnection unless the readings are live.
class ConnectionIndicator : public QToolButton
{
    Q_OBJECT

public:
    explicit ConnectionIndicator(const Panel &panel, QWidget *parent = nullptr);

public slots:
    void refresh();

signals:
    void reconnectRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    const Panel &panel_;
};

#endif // CONNECTIONINDICATOR_H
