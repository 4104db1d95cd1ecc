#include "droptarget.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <utility>

DropTarget::DropTarget(QWidget *widget, Accepts accepts, Open open, const QRect &area)
    : QObject(widget)
    , m_widget(widget)
    , m_accepts(std::move(accepts))
    , m_open(std::move(open))
    , m_area(area)
{
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

bool DropTarget::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched != m_widget
        || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return QObject::eventFilter(watched, event);

    auto *drop = static_cast<QDropEvent *>(event);
    const QString file = acceptedFile(*drop);
    // Entering anywhere with the right file makes the widget the drag's target, so that
    // it sees the moves into its area; whether the drop is wanted is decided by position.
    const bool wanted = !file.isEmpty() && (type == QEvent::DragEnter || isOverArea(*drop));
    if (!wanted) {
        drop->ignore();
        return true;
    }
    // The file is only read: a move would have the file manager delete the user's file.
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        // Loading a large photo takes a while; the program the file came from should not
        // wait for it.
        QMetaObject::invokeMethod(this, "openFile", Qt::QueuedConnection, Q_ARG(QString, file));
    }
    return true;
}

void DropTarget::openFile(const QString &path) { m_open(path); }

QString DropTarget::acceptedFile(const QDropEvent &event) const
{
    if (!(event.possibleActions() & Qt::CopyAction) || !event.mimeData())
        return QString();
    const QList<QUrl> urls = event.mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    return m_accepts(path) ? path : QString();
}

bool DropTarget::isOverArea(const QDropEvent &event) const
{
    const QRect area = m_area.isEmpty() ? m_widget->rect() : m_area;
    return area.contains(event.position().toPoint());
}
