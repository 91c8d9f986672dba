// kesmar: drives the running KesmarControl panel from scripts, over the
// session bus. Exit status 0 on success, 1 on a failure (message on stderr),
// 2 on a usage error.
#include "panelclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

enum Exit
{
    Success = 0,
    Failure = 1,
    Usage = 2,
};

// A goto waits this long for the readouts to reach the target, unless told.
constexpr int defaultTimeoutMs = 60000;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString &command, const QString &message)
{
    err() << "kesmar: " << message << "\nTry 'kesmar " << (command.isEmpty() ? QString() : command + ' ')
          << "--help'.\n";
    return Usage;
}

int failure(const QString &message)
{
    err() << "kesmar: " << printable(message) << '\n';
    return Failure;
}

// A name as one line of output: a character that a name may not hold (a
// store edited by hand can have one) is written as \uXXXX.
QString oneLine(const QString &name)
{
    return escaped(name, [](QChar c) { return !Position::isNameCharacter(c); });
}

// The parsed command line of one command.
struct Invocation
{
    QCommandLineParser &parser;
    QStringList args;
    // The arguments as whole numbers, for commands that take numbers.
    QList<int> numbers;
};

struct Command
{
    QString name;
    QString synopsis;
    QString description;
    // Positional arguments as parsed by QCommandLineParser: name and help.
    QList<QPair<QString, QString>> arguments;
    // Number of positional arguments: at least, at most.
    int minArgs;
    int maxArgs;
    // Whether the arguments are whole numbers.
    bool numeric;
    QList<QCommandLineOption> options;
    std::function<int(const Invocation &, PanelClient &)> run;
};

const QCommandLineOption waitOption(QStringLiteral("wait"),
                                    QStringLiteral("Return only when the readouts reach the target."));
const QCommandLineOption
    timeoutOption(QStringLiteral("timeout"),
                  QStringLiteral("With --wait, fail after <ms> milliseconds (default %1).").arg(defaultTimeoutMs),
                  QStringLiteral("ms"));
const QCommandLineOption
    moveWaitOption(QStringLiteral("wait"),
                   QStringLiteral("Return only when the move has ended: exit status 0 when the "
                                  "unit arrived, 1 when a stage did not arrive or it was halted."));
const QCommandLineOption followOption(QStringLiteral("follow"),
                                      QStringLiteral("Go on printing new rows and the ends of moves until "
                                                     "interrupted."));
const QCommandLineOption rowsOption(QStringLiteral("n"),
                                    QStringLiteral("Print the last <N> rows (default 10; the panel keeps 10000)."),
                                    QStringLiteral("N"), QStringLiteral("10"));
const QCommandLineOption relativeOption(QStringLiteral("relative"),
                                        QStringLiteral("Count from the zero set on the device (Zero here)."));
const QCommandLineOption csvOption(QStringLiteral("csv"), QStringLiteral("Comma-separated values with a header line."));

int sent(PanelClient &client, QDBusPendingCall call)
{
    return client.check(call) ? Success : failure(client.error());
}

// After a goto: waits for the target when --wait is given.
int waitIfAsked(const Invocation &in, PanelClient &client, const QList<int> &target)
{
    if (!in.parser.isSet(waitOption))
        return Success;
    int timeout = defaultTimeoutMs;
    if (in.parser.isSet(timeoutOption))
        timeout = in.parser.value(timeoutOption).toInt();
    return client.waitForPosition(target, timeout) ? Success : failure(client.error());
}

// What is wrong with --wait and --timeout, if anything.
QString waitOptionsError(const QCommandLineParser &parser)
{
    if (!parser.isSet(timeoutOption))
        return {};
    bool ok = false;
    const int timeout = parser.value(timeoutOption).toInt(&ok);
    if (!ok || timeout <= 0)
        return QStringLiteral("--timeout needs a positive number of milliseconds");
    if (!parser.isSet(waitOption))
        return QStringLiteral("--timeout goes with --wait");
    return {};
}

// After Retract or Return: waits for the move to end when --wait is given.
int waitForMoveIfAsked(const Invocation &in, PanelClient &client, QDBusPendingReply<QString> reply)
{
    if (!client.check(reply))
        return failure(client.error());
    if (!in.parser.isSet(moveWaitOption) || reply.value().isEmpty())
        return Success;
    int timeout = defaultTimeoutMs;
    if (in.parser.isSet(timeoutOption))
        timeout = in.parser.value(timeoutOption).toInt();
    return client.waitForSequence(timeout) ? Success : failure(client.error());
}

// What is wrong with the arguments of "kesmar limits", if anything.
QString limitsArgumentsError(const QStringList &args)
{
    if (args.isEmpty() || (args.size() == 1 && args.first() == QLatin1String("off")))
        return {};
    if (args.first() != QLatin1String("set") || args.size() != 7)
        return QStringLiteral("usage: kesmar limits [set XMIN XMAX YMIN YMAX ZMIN ZMAX | off]");
    for (const QString &arg : args.mid(1)) {
        bool ok = false;
        arg.toInt(&ok);
        if (!ok)
            return QStringLiteral("'%1' is not a whole number").arg(arg);
    }
    return {};
}

// kesmar limits [set XMIN XMAX YMIN YMAX ZMIN ZMAX | off], its arguments checked.
int limits(const Invocation &in, PanelClient &c)
{
    QDBusPendingReply<bool, int, int, int, int, int, int> now = c.panel().Limits();
    if (!c.check(now))
        return failure(c.error());
    QList<int> bounds{now.argumentAt<1>(), now.argumentAt<2>(), now.argumentAt<3>(),
                      now.argumentAt<4>(), now.argumentAt<5>(), now.argumentAt<6>()};
    if (in.args.isEmpty()) {
        out() << (now.argumentAt<0>() ? "on" : "off");
        for (int bound : bounds)
            out() << ' ' << bound;
        out() << '\n';
        return Success;
    }
    if (in.args.first() == QLatin1String("off"))
        return sent(c, c.panel().SetLimits(false, bounds[0], bounds[1], bounds[2], bounds[3], bounds[4], bounds[5]));
    for (int i = 0; i < 6; ++i)
        bounds[i] = in.args.at(i + 1).toInt();
    return sent(c, c.panel().SetLimits(true, bounds[0], bounds[1], bounds[2], bounds[3], bounds[4], bounds[5]));
}

int printTriple(PanelClient &client, QDBusPendingReply<int, int, int> reply)
{
    if (!client.check(reply))
        return failure(client.error());
    out() << reply.argumentAt<0>() << ' ' << reply.argumentAt<1>() << ' ' << reply.argumentAt<2>() << '\n';
    return Success;
}

const QList<Command> &commands()
{
    static const QList<Command> list{
        {QStringLiteral("position"),
         QString(),
         QStringLiteral("Print the last reading of the selected device as \"X Y Z\". Fails when there is none or it "
                        "is stale."),
         {},
         0,
         0,
         false,
         {relativeOption},
         [](const Invocation &in, PanelClient &c) {
             return printTriple(c,
                                in.parser.isSet(relativeOption) ? c.panel().PositionRelative() : c.panel().Position());
         }},
        {QStringLiteral("zero"),
         QString(),
         QStringLiteral("Zero here: count the readouts and position --relative from where the unit is now, on the "
                        "selected device. Nothing moves."),
         {},
         0,
         0,
         false,
         {},
         [](const Invocation &, PanelClient &c) {
             return sent(c, c.panel().SetZero());
         }},
        {QStringLiteral("clear-zero"),
         QString(),
         QStringLiteral("Clear zero: count from the unit's own 0 again. Nothing moves."),
         {},
         0,
         0,
         false,
         {},
         [](const Invocation &, PanelClient &c) {
             return sent(c, c.panel().ClearZero());
         }},
        {QStringLiteral("advance"),
         QStringLiteral("DIST"),
         QStringLiteral("Move DIST micrometres forward along the pipette's axis, both axes at once."),
         {{QStringLiteral("DIST"), QStringLiteral("Micrometres, above 0.")}},
         1,
         1,
         false,
         {},
         [](const Invocation &in, PanelClient &c) {
             return sent(c, c.panel().Advance(in.args.first().toDouble()));
         }},
        {QStringLiteral("withdraw"),
         QStringLiteral("DIST"),
         QStringLiteral("Move DIST micrometres back along the pipette's axis, both axes at once."),
         {{QStringLiteral("DIST"), QStringLiteral("Micrometres, above 0.")}},
         1,
         1,
         false,
         {},
         [](const Invocation &in, PanelClient &c) {
             return sent(c, c.panel().Withdraw(in.args.first().toDouble()));
         }},
        {QStringLiteral("goto"),
         QStringLiteral("X Y Z [--wait [--timeout MS]]"),
         QStringLiteral("Put X Y Z into the targets and press Goto. Values outside 0..20500 are refused."),
         {{QStringLiteral("X"), QStringLiteral("Target X.")},
          {QStringLiteral("Y"), QStringLiteral("Target Y.")},
          {QStringLiteral("Z"), QStringLiteral("Target Z.")}},
         3,
         3,
         true,
         {waitOption, timeoutOption},
         [](const Invocation &in, PanelClient &c) {
             const QList<int> &target = in.numbers;
             if (!c.check(c.panel().Goto(target[0], target[1], target[2])))
                 return failure(c.error());
             return waitIfAsked(in, c, target);
         }},
        {QStringLiteral("move"),
         QStringLiteral("DX DY DZ"),
         QStringLiteral("Jog by DX DY DZ steps, as the pad's arrow buttons do."),
         {{QStringLiteral("DX"), QStringLiteral("Steps on X.")},
          {QStringLiteral("DY"), QStringLiteral("Steps on Y.")},
          {QStringLiteral("DZ"), QStringLiteral("Steps on Z.")}},
         3,
         3,
         true,
         {},
         [](const Invocation &in, PanelClient &c) {
             const QList<int> &step = in.numbers;
             return sent(c, c.panel().MoveBy(step[0], step[1], step[2]));
         }},
        {QStringLiteral("halt"),
         QString(),
         QStringLiteral("Stop the manipulator where it is, as the pad's Halt button does."),
         {},
         0,
         0,
         false,
         {},
         [](const Invocation &, PanelClient &c) {
             return sent(c, c.panel().Halt());
         }},
        {QStringLiteral("positions"),
         QString(),
         QStringLiteral("Print the named positions, one \"X Y Z NAME\" line each, in the order of the list; "
                        "a control character or line break in a name is printed as \\uXXXX."),
         {},
         0,
         0,
         false,
         {},
         [](const Invocation &, PanelClient &c) {
             QDBusPendingReply<NamedPositionList> reply = c.panel().Positions();
             if (!c.check(reply))
                 return failure(c.error());
             for (const Position &p : reply.value())
                 out() << p.x << ' ' << p.y << ' ' << p.z << ' ' << oneLine(p.name) << '\n';
             return int(Success);
         }},
        {QStringLiteral("goto-position"),
         QStringLiteral("NAME [--wait [--timeout MS]]"),
         QStringLiteral("Choose the named position in the list and press Goto."),
         {{QStringLiteral("NAME"), QStringLiteral("A name as \"kesmar positions\" prints it.")}},
         1,
         1,
         false,
         {waitOption, timeoutOption},
         [](const Invocation &in, PanelClient &c) {
             if (!c.check(c.panel().GotoPosition(in.args.at(0))))
                 return failure(c.error());
             QDBusPendingReply<int, int, int> target = c.panel().Target();
             if (!c.check(target))
                 return failure(c.error());
             return waitIfAsked(in, c, {target.argumentAt<0>(), target.argumentAt<1>(), target.argumentAt<2>()});
         }},
        {QStringLiteral("store"),
         QStringLiteral("NAME"),
         QStringLiteral("Keep the current targets under NAME: the entry of that name gets them, else a new entry "
                        "is added; another entry at the same place is never renamed."),
         {{QStringLiteral("NAME"), QStringLiteral("1 to 200 characters, no control characters or line breaks.")}},
         1,
         1,
         false,
         {},
         [](const Invocation &in, PanelClient &c) {
             return sent(c, c.panel().StorePosition(in.args.at(0)));
         }},
        {QStringLiteral("device"),
         QStringLiteral("[N]"),
         QStringLiteral("Print the selected device, or select device N as the device box does."),
         {{QStringLiteral("N"), QStringLiteral("The device to select.")}},
         0,
         1,
         true,
         {},
         [](const Invocation &in, PanelClient &c) {
             if (!in.numbers.isEmpty())
                 return sent(c, c.panel().SelectDevice(in.numbers.first()));
             QDBusPendingReply<int> reply = c.panel().Device();
             if (!c.check(reply))
                 return failure(c.error());
             out() << reply.value() << '\n';
             return int(Success);
         }},
        {QStringLiteral("state"),
         QString(),
         QStringLiteral("Print the connection state: reading, stale, stopped or not connected. Unless it is "
                        "reading, a second line gives the panel's last failure message, when there is one."),
         {},
         0,
         0,
         false,
         {},
         [](const Invocation &, PanelClient &c) {
             QDBusPendingReply<QString> reply = c.panel().State();
             if (!c.check(reply))
                 return failure(c.error());
             out() << printable(reply.value()) << '\n';
             if (reply.value() == QLatin1String("reading"))
                 return int(Success);
             QDBusPendingReply<QString> lastError = c.panel().LastError();
             if (!c.check(lastError))
                 return failure(c.error());
             if (!lastError.value().isEmpty())
                 out() << printable(lastError.value()) << '\n';
             return int(Success);
         }},
        {QStringLiteral("limits"),
         QStringLiteral("[set XMIN XMAX YMIN YMAX ZMIN ZMAX | off]"),
         QStringLiteral("Print the travel envelope as \"on|off XMIN XMAX YMIN YMAX ZMIN ZMAX\". With set, take the "
                        "bounds and switch the envelope on; with off, switch it off and keep the bounds. Every move "
                        "is then checked against it, as the Limits dialog says."),
         {{QStringLiteral("set|off"), QStringLiteral("Set the bounds and switch the envelope on, or switch it off.")},
          {QStringLiteral("BOUNDS"), QStringLiteral("With set: XMIN XMAX YMIN YMAX ZMIN ZMAX, each within 0..20500.")}},
         0,
         7,
         false,
         {},
         limits},
        {QStringLiteral("retract"),
         QStringLiteral("[--wait [--timeout MS]]"),
         QStringLiteral("Press Retract: remember the position and take the unit out along the retract axis to the "
                        "safe coordinate (File > Limits)."),
         {},
         0,
         0,
         false,
         {moveWaitOption, timeoutOption},
         [](const Invocation &in, PanelClient &c) {
             return waitForMoveIfAsked(in, c, c.panel().Retract());
         }},
        {QStringLiteral("return"),
         QStringLiteral("[--wait [--timeout MS]]"),
         QStringLiteral("Press Return: take the unit back to the position Retract remembered, sideways first, then in "
                        "along the retract axis, stopping the approach distance short."),
         {},
         0,
         0,
         false,
         {moveWaitOption, timeoutOption},
         [](const Invocation &in, PanelClient &c) {
             return waitForMoveIfAsked(in, c, c.panel().Return());
         }},
        {QStringLiteral("watch"),
         QStringLiteral("[--csv]"),
         QStringLiteral("Print \"TIME X Y Z\" for every reading and \"TIME state STATE\" for the connection state "
                        "at the start and at every change, until interrupted. STATE is reading, stale, stopped or not "
                        "connected, and \"panel closed\" while the panel is gone; watching goes on when it comes "
                        "back. TIME is UTC in ISO 8601 with milliseconds. With --csv the columns are "
                        "time,x,y,z,state: reading rows have no state, state rows no coordinates."),
         {},
         0,
         0,
         false,
         {csvOption},
         [](const Invocation &in, PanelClient &c) {
             c.watch(in.parser.isSet(csvOption));
             return int(Success);
         }},
        {QStringLiteral("journal"),
         QStringLiteral("[--follow] [--csv] [-n N]"),
         QStringLiteral("Print the last N rows of the panel's journal of moves, oldest first: every target it sent, "
                        "refused or failed to send, as \"TIME device D SOURCE [(STAGE)] [from X Y Z] to X Y Z: "
                        "OUTCOME [(MESSAGE)][; END [at X Y Z]]\". SOURCE is Goto, Follow Target, list entry, Copy, "
                        "Restore, pad, key, script, Retract, Return or Halt; OUTCOME is sent, refused or failed; END, "
                        "once a sent move has ended, arrived, stopped short or halted. TIME is UTC in ISO 8601 with "
                        "milliseconds. With --follow a line follows for every new row and every end of a move, until "
                        "interrupted. With --csv the lines are those of the journal's files, after their header "
                        "line."),
         {},
         0,
         0,
         false,
         {followOption, csvOption, rowsOption},
         [](const Invocation &in, PanelClient &c) {
             return c.printJournal(in.parser.value(rowsOption).toInt(), in.parser.isSet(csvOption),
                                   in.parser.isSet(followOption))
                 ? Success
                 : failure(c.error());
         }},
    };
    return list;
}

QString overview()
{
    QString text = QStringLiteral("Drives the running KesmarControl panel over the session bus.\n\nCommands:\n");
    for (const Command &c : commands()) {
        const QString usage = (c.name + ' ' + c.synopsis).trimmed();
        const int end = c.description.indexOf(QLatin1String(". "));
        const QString summary = end < 0 ? c.description : c.description.left(end + 1);
        text += QStringLiteral("  %1  %2\n").arg(usage, -44).arg(summary);
    }
    // The options the commands take (see the synopses above), each described once.
    text += QStringLiteral("\nOptions of the commands:\n");
    for (const QCommandLineOption &o : {waitOption, timeoutOption, csvOption, followOption, rowsOption}) {
        const QString name = (o.names().constFirst().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"))
            + o.names().constFirst()
            + (o.valueName().isEmpty() ? QString() : QStringLiteral(" <%1>").arg(o.valueName()));
        text += QStringLiteral("  %1  %2\n").arg(name, -44).arg(o.description());
    }
    text += QStringLiteral("\n'kesmar COMMAND --help' describes a command. Exit status: 0 on success, 1 on a failure "
                           "(the message on standard error), 2 on a usage error.");
    return text;
}

// The parser's help with the given usage line in place of its own, which
// names the program by its path.
QString helpWithUsage(const QCommandLineParser &parser, const QString &usage)
{
    const QString help = parser.helpText();
    return QStringLiteral("Usage: kesmar ") + usage.trimmed() + help.mid(help.indexOf(QLatin1Char('\n')));
}

int runCommand(const Command &c, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(c.description);
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions(c.options);
    for (const auto &argument : c.arguments)
        parser.addPositionalArgument(argument.first, argument.second);
    // A negative number would read as a bundle of short options: it passes
    // the parser under a mark that no typed argument carries.
    const QChar minus(0x01);
    QStringList parsed = arguments;
    if (c.numeric) {
        const QRegularExpression negative(QStringLiteral("^-\\d+$"));
        for (QString &arg : parsed) {
            if (negative.match(arg).hasMatch())
                arg[0] = minus;
        }
    }
    if (!parser.parse(parsed))
        return usageError(c.name, parser.errorText());
    if (parser.isSet(help)) {
        out() << helpWithUsage(parser, c.name + ' ' + c.synopsis);
        return Success;
    }
    QStringList args = parser.positionalArguments();
    for (QString &arg : args) {
        if (arg.startsWith(minus))
            arg[0] = QLatin1Char('-');
    }
    if (args.size() < c.minArgs || args.size() > c.maxArgs)
        return usageError(c.name, QStringLiteral("usage: kesmar %1 %2").arg(c.name, c.synopsis).trimmed());

    // Arguments are checked before the panel is looked for, so a usage error
    // is one whether a panel runs or not.
    Invocation in{parser, args, {}};
    for (const QString &arg : args) {
        bool ok = !c.numeric;
        if (c.numeric)
            in.numbers << arg.toInt(&ok);
        if (!ok)
            return usageError(c.name, QStringLiteral("'%1' is not a whole number").arg(arg));
    }
    if (c.name == QLatin1String("limits")) {
        const QString error = limitsArgumentsError(args);
        if (!error.isEmpty())
            return usageError(c.name, error);
    }
    if (c.name == QLatin1String("journal")) {
        bool ok = false;
        const int rows = parser.value(rowsOption).toInt(&ok);
        if (!ok || rows < 0)
            return usageError(c.name, QStringLiteral("-n needs a number of rows, 0 or more"));
    }
    const auto takesTimeout = [](const QCommandLineOption &o) {
        return o.names() == timeoutOption.names();
    };
    if (std::any_of(c.options.cbegin(), c.options.cend(), takesTimeout)) {
        const QString error = waitOptionsError(parser);
        if (!error.isEmpty())
            return usageError(c.name, error);
    }

    PanelClient client;
    if (!client.connectToPanel())
        return failure(client.error());
    return c.run(in, client);
}

} // namespace

int main(int argc, char *argv[])
{
    // Names go to the panel as they are typed: bytes that are not UTF-8 would
    // arrive as U+FFFD and be stored so, so they are refused instead.
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (QString::fromUtf8(arg).toUtf8() != arg) {
            std::fprintf(stderr,
                         "kesmar: argument %d is not valid UTF-8; give names as UTF-8 text\nTry 'kesmar --help'.\n", i);
            return Usage;
        }
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kesmar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESMAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(overview());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run, see above."),
                                 QStringLiteral("COMMAND [ARGUMENTS]"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(QString(), parser.errorText());
    if (parser.isSet(version)) {
        out() << "kesmar " << QCoreApplication::applicationVersion() << '\n';
        return Success;
    }
    const QStringList args = parser.positionalArguments();
    if (parser.isSet(help)) {
        out() << helpWithUsage(parser, QStringLiteral("COMMAND [ARGUMENTS]"));
        return Success;
    }
    if (args.isEmpty())
        return usageError(QString(), QStringLiteral("no command given"));
    for (const Command &c : commands()) {
        if (c.name == args.first())
            return runCommand(c, args);
    }
    return usageError(QString(), QStringLiteral("unknown command '%1'").arg(args.first()));
}
