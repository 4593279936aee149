#pragma once

#include <QList>
#include <QString>

// All message boxes of the program go through this interface; tests install a scripted one.
class MessageBoxes
{
public:
    enum class Kind
    {
        Message,
        Question,
        Error,
        Beep
    };
    struct Record
    {
        Kind kind;
        QString caption;
        QString text;
    };

    virtual ~MessageBoxes() = default;

    // The plain message box: the text, one OK button, the caption "Vanterlo", no icon.
    virtual void message(const QString &text) = 0;
    // A question with OK and Cancel (OK the default) and a question-mark icon; true when answered OK.
    virtual bool question(const QString &caption, const QString &text) = 0;
    // The same question with Cancel the default, for what cannot be undone: Enter alone does not do it.
    virtual bool questionCancelDefault(const QString &caption, const QString &text) { return question(caption, text); }
    // The application's error message box: caption "Vanterlo", error icon, the error text by errorText().
    virtual void error(const QString &message) = 0;
    // The platform's warning beep for a refused key.
    virtual void beep() = 0;

    static MessageBoxes &instance();
    // Installs boxes for the program or a test; nullptr restores the real ones. Not owned.
    static void install(MessageBoxes *boxes);

    // The error message as the error box shows it: "." appended when the message is not empty and its last character
    // sorts after ".".
    static QString errorText(const QString &message);
};

class QWidget;

// Makes the window Qt's active window at once, before the desktop says so, and asks the desktop to activate it too.
// Until the desktop's word arrives Qt holds back the focus events of the window's widgets.
void makeActiveWindow(QWidget *window);

inline const char *const ApplicationTitle = "Vanterlo";
inline const char *const DeleteCaption = "删除确认";

// Records every box and answers questions from a queue (OK when the queue is empty). For tests.
class ScriptedMessageBoxes : public MessageBoxes
{
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;

    void message(const QString &text) override;
    bool question(const QString &caption, const QString &text) override;
    void error(const QString &message) override;
    void beep() override;

    QList<Record> records;
    QList<bool> answers; // answers to the next questions, OK = true
    int beeps = 0;

    // The texts of the boxes shown (beeps left out), and clearing them.
    QStringList texts() const;
    void clear();
};
