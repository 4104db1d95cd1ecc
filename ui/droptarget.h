#ifndef DROPTARGET_H
#define DROPTARGET_H

#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

class QDropEvent;
class QWidget;

// Lets a widget take one dropped file. A drag is taken while it carries exactly one local
// file that `accepts` approves and is over `area` (in the widget's coordinates; the whole
// widget when empty); the drop then hands the file's path to `open`, once the drop itself
// is over. Anything else passes the widget by, on to its parent.
class DropTarget : public QObject
{
    Q_OBJECT

public:
    using Accepts = std::function<bool(const QString &)>;
    using Open = std::function<void(const QString &)>;

    // Owned by the widget.
    DropTarget(QWidget *widget, Accepts accepts, Open open, const QRect &area = QRect());

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void openFile(const QString &path);

private:
    // The dropped file's path, empty unless the drag carries exactly one acceptable file.
    QString acceptedFile(const QDropEvent &event) const;
    bool isOverArea(const QDropEvent &event) const;

    QWidget *m_widget;
    Accepts m_accepts;
    Open m_open;
    QRect m_area;
};

#endif // DROPTARGET_H
