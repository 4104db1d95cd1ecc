#include "curvesfilter.h"
#include "filesizelimit.h"
#include "filterfile.h"
#include "filtermessages.h"
#include "imagefile.h"
#include "imagefiletypes.h"
#include "imagetesting.h"
#include "mainwidget.h"
#include "photometadata.h"
#include "phototesting.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorSpace>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QUrl>

#include <new>

#include <exiv2/exiv2.hpp>

namespace {

// The window with its file dialogs answered from a queue, and with generation and
// application that can be made to run out of memory.
class TestWindow : public MainWidget
{
public:
    QStringList answers;
    QList<QStringList> calls; // { "open" or "save", caption, dir, filter }
    bool unexpectedDialog = false;
    bool dialogUnderWaitCursor = false;
    bool workWithoutWaitCursor = false;
    bool outOfMemory = false;

protected:
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        return answer({ "open", caption, dir, filter });
    }
    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        return answer({ "save", caption, dir, filter });
    }
    std::unique_ptr<CurvesFilter> generateFilter(const QImage &source,
                                                 const QImage &product) override
    {
        work();
        return MainWidget::generateFilter(source, product);
    }
    QImage applyFilter(const CurvesFilter &filter, const QImage &image) override
    {
        work();
        return MainWidget::applyFilter(filter, image);
    }

private:
    QString answer(const QStringList &call)
    {
        calls.append(call);
        dialogUnderWaitCursor |= QApplication::overrideCursor() != nullptr;
        unexpectedDialog |= answers.isEmpty();
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    void work()
    {
        const QCursor *cursor = QApplication::overrideCursor();
        workWithoutWaitCursor |= !cursor || cursor->shape() != Qt::WaitCursor;
        if (outOfMemory)
            throw std::bad_alloc();
    }
};

const QString ImageFilter = QStringLiteral(
    "Image files (*.bmp *.gif *.jpg *.jpeg *.png *.pbm *.pgm *.ppm *.tif *.tiff *.xbm *.xpm)");
const QString FilterFilter = QStringLiteral("Chromaloom filters (*.cml)");

const QStringList CommandButtons
    = { "generateFilterButton", "saveFilterButton", "applyFilterButton", "saveResultButton" };
const QStringList DialogButtons = { "loadSourceButton", "loadProductButton", "selectTargetButton",
                                    "saveResultButton", "saveFilterButton",  "loadFilterButton" };
const QStringList Previews
    = { "filterSourceIcon", "filterProductIcon", "targetIcon", "resultIcon" };
const QStringList Arrows = { "label_3", "label_4", "label_7" };

// A rich-text heading: the words at 12 pt in a body of the given size.
QString heading(const char *bodySize, const char *words)
{
    return QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                          "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
                          "<html><head><meta name=\"qrichtext\" content=\"1\" />"
                          "<style type=\"text/css\">\np, li { white-space: pre-wrap; }\n"
                          "</style></head><body style=\" font-family:'MS Shell Dlg 2'; "
                          "font-size:%1; font-weight:400; font-style:normal;\">\n"
                          "<p align=\"center\" style=\" margin-top:0px; margin-bottom:0px; "
                          "margin-left:0px; margin-right:0px; -qt-block-indent:0; "
                          "text-indent:0px;\"><span style=\" font-size:12pt;\">%2</span></p>"
                          "</body></html>")
        .arg(QLatin1String(bodySize), QLatin1String(words));
}

QString textOf(const QWidget *widget)
{
    if (const auto *box = qobject_cast<const QGroupBox *>(widget))
        return box->title();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return qobject_cast<const QLabel *>(widget)->text();
}

} // namespace

class TestMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formWidgets_data();
    void formWidgets();
    void freshWindow();
    void arrowsAndLanguageChange();

    void cancelledDialogs_data();
    void cancelledDialogs();
    void loadImages_data();
    void loadImages();
    void previews_data();
    void previews();
    void newTarget();
    void generate_data();
    void generate();
    void saveAndLoadFilter();
    void save_data();
    void save();
    void saveKeepsOldFile_data();
    void saveKeepsOldFile();
    void photoTarget();
    void uprightTarget_data();
    void uprightTarget();
    void oversizedTarget();
    void outOfMemory();

    void messageLine();
    void dropLikeButton_data();
    void dropLikeButton();
    void ignoredDrops_data();
    void ignoredDrops();
    void shortcuts_data();
    void shortcuts();
    void dialogFilters_data();
    void dialogFilters();
    void compressedPng();
    void desktopFiles_data();
    void desktopFiles();

    void endToEnd();

private:
    template<typename T = QWidget>
    T *widget(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }
    // The message line; cleanup() checks that its tooltip always showed the same words.
    QString message() const
    {
        const auto *line = widget<QLabel>("messageLabel");
        const QString tip = line->toolTip();
        m_toolTipDiffered |= line->text()
            != (Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText()
                                         : tip);
        return line->text();
    }
    QPixmap preview(const QString &name) const { return widget<QLabel>(name)->pixmap(); }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QStringList enabledCommands() const
    {
        QStringList enabled;
        for (const QString &name : CommandButtons) {
            if (widget(name)->isEnabled())
                enabled.append(name);
        }
        return enabled;
    }

    // Writes an image of the given size ("640x480"), or a file no reader understands
    // ("broken"), and returns its path.
    QString imageFile(const QString &name, const QString &kind, quint32 seed = 0) const
    {
        const QString file = path(name);
        const QStringList size = kind.split(QLatin1Char('x'));
        QFile broken(file);
        const bool written = size.size() == 2
            ? randomImage(size.at(0).toInt(), size.at(1).toInt(), QImage::Format_RGB32, seed)
                  .save(file)
            : broken.open(QIODevice::WriteOnly) && broken.write("not an image") > 0;
        if (!written)
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }
    // Clicks the button; its dialog, if it opens one, returns the answer.
    void click(const QString &button, const QString &answer = QString())
    {
        if (!answer.isNull())
            m_window->answers.append(answer);
        auto *target = widget<QPushButton>(button);
        QVERIFY2(target->isEnabled(), qPrintable(button + QStringLiteral(" is disabled")));
        QTest::mouseClick(target, Qt::LeftButton);
    }
    // Clicks the button and cancels the dialog it opens.
    void cancel(const QString &button)
    {
        m_window->answers.append(QString());
        click(button);
    }
    // The window with source, product and target loaded, a filter generated and applied.
    void prepareResult()
    {
        click("loadSourceButton", imageFile("source.png", "64x48"));
        click("loadProductButton", imageFile("product.png", "64x48", 40));
        click("selectTargetButton", imageFile("target.png", "30x20", 7));
        click("generateFilterButton");
        click("applyFilterButton");
        QCOMPARE(message(), QStringLiteral("Filter applied."));
    }
    // The start directory of the dialogs of all enabled buttons, found by cancelling them;
    // they must all agree.
    QString dialogDir()
    {
        QStringList dirs;
        for (const QString &button : DialogButtons) {
            const auto before = m_window->calls.size();
            if (widget(button)->isEnabled()) {
                cancel(button);
                dirs.append(m_window->calls.value(before).value(2, button + " opened no dialog"));
            }
        }
        dirs.removeDuplicates();
        return dirs.join(QLatin1String(" | "));
    }
    // What the user sees of the window, and where its dialogs open (found by cancelling
    // them, so that comes last).
    QStringList windowState()
    {
        QStringList state = { message(), enabledCommands().join(QLatin1Char(' ')) };
        for (const QString &name : Previews) {
            const QImage image = preview(name).toImage();
            state.append(QStringLiteral("%1: %2x%3 %4")
                             .arg(name)
                             .arg(image.width())
                             .arg(image.height())
                             .arg(qHashBits(image.constBits(), size_t(image.sizeInBytes()))));
        }
        state.append(dialogDir());
        return state;
    }
    void newWindow()
    {
        m_window = std::make_unique<TestWindow>();
        m_window->show();
    }
    // Drags the URLs over the named widget to `at` (its centre by default) and drops them
    // there, as a file manager does when asked to move them; whether the window took them.
    bool drop(const QString &on, const QList<QUrl> &urls, QPoint at = QPoint())
    {
        QWidget *target = widget(on);
        if (at.isNull())
            at = target->rect().center();
        QMimeData data;
        data.setUrls(urls);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        move.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(target, &move);
        QDropEvent dropped(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        dropped.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(target, &dropped);
        QCoreApplication::processEvents(); // the window loads the file once the drop is over
        // Taken as a copy: a move would have the file manager delete the user's file.
        return move.isAccepted() && dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }
    // Makes the file a drop or a dialog hands over: an image of the given size, a file no
    // reader understands ("broken"), a filter ("filter"), text ("text") or a folder.
    QString makeFile(const QString &name, const QString &kind)
    {
        QDir(m_dir->path()).mkpath(QFileInfo(path(name)).path());
        if (kind == QLatin1String("folder"))
            QDir(m_dir->path()).mkpath(name);
        else if (kind == QLatin1String("filter"))
            FilterFile::save(*CurvesFilter::generate(randomImage(8, 8, QImage::Format_RGB32, 5),
                                                     randomImage(8, 8, QImage::Format_RGB32, 6)),
                             path(name));
        else if (kind == QLatin1String("text") || kind == QLatin1String("junk")) {
            QFile text(path(name));
            if (!text.open(QIODevice::WriteOnly) || text.write("just some text\n") <= 0)
                qFatal("cannot write %s", qPrintable(path(name)));
        } else if (kind != QLatin1String("missing"))
            imageFile(name, kind);
        return path(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestWindow> m_window;
    mutable bool m_toolTipDiffered = false;
};

void TestMainWidget::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    m_toolTipDiffered = false;
    m_window = std::make_unique<TestWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWidget::cleanup()
{
    QVERIFY2(!m_window->unexpectedDialog, "a dialog opened that the test did not answer");
    QVERIFY2(m_window->answers.isEmpty(), "a dialog the test answered never opened");
    QVERIFY2(!m_window->dialogUnderWaitCursor, "a dialog opened under the wait cursor");
    QVERIFY2(!m_window->workWithoutWaitCursor, "generation or application ran without it");
    QVERIFY2(!QApplication::overrideCursor(), "the wait cursor was not restored");
    QVERIFY2(!m_toolTipDiffered, "the message line's tooltip did not show its message");
    m_window.reset();
    m_dir.reset();
}

void TestMainWidget::formWidgets_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ownFont");

    // Rows in creation order, which is also the keyboard focus order. ownFont is the point
    // size of a font the widget sets itself, 0 where it inherits its parent's.
    int index = 0;
    const auto row = [&index](const char *name, const char *cls, const char *parent, QRect geometry,
                              bool enabled, const QString &text, int ownFont = 0) {
        QTest::newRow(name) << index++ << cls << parent << geometry << enabled << text << ownFont;
    };
    row("groupBox", "QGroupBox", "MainWidget", { 10, 10, 841, 341 }, true, "Filter factory", 11);
    row("filterSourceIcon", "QLabel", "groupBox", { 10, 60, 200, 200 }, true, "");
    row("filterProductIcon", "QLabel", "groupBox", { 310, 60, 200, 200 }, true, "");
    row("label", "QLabel", "groupBox", { 10, 20, 201, 31 }, true,
        heading("8.25pt", "Source image"));
    row("label_2", "QLabel", "groupBox", { 310, 20, 201, 31 }, true,
        heading("8.25pt", "Product image"));
    row("label_3", "QLabel", "groupBox", { 220, 70, 101, 181 }, true, "");
    row("loadSourceButton", "QPushButton", "groupBox", { 10, 270, 201, 41 }, true,
        "Load source...");
    row("loadProductButton", "QPushButton", "groupBox", { 310, 270, 201, 41 }, true,
        "Load product...");
    row("groupBox_2", "QGroupBox", "groupBox", { 630, 55, 201, 91 }, true, "Emulation method", 10);
    row("radioCurves", "QRadioButton", "groupBox_2", { 10, 20, 181, 20 }, true, "Separate curves");
    row("radioMixer", "QRadioButton", "groupBox_2", { 10, 40, 181, 20 }, false,
        "Channel mixing curves");
    row("radioMapping", "QRadioButton", "groupBox_2", { 10, 60, 181, 20 }, false,
        "Full area mapping");
    row("loadFilterButton", "QPushButton", "groupBox", { 630, 270, 201, 41 }, true,
        "Load filter...");
    row("label_4", "QLabel", "groupBox", { 530, 70, 101, 181 }, true, "");
    row("generateFilterButton", "QPushButton", "groupBox", { 630, 180, 201, 41 }, false,
        "Generate filter");
    row("label_5", "QLabel", "groupBox", { 630, 20, 201, 31 }, true, heading("11pt", "Filter"));
    row("saveFilterButton", "QPushButton", "groupBox", { 630, 225, 201, 41 }, false,
        "Save filter as...");
    row("messageLabel", "QLabel", "groupBox", { 10, 317, 821, 20 }, true, "");
    row("checkBoxAlign", "QCheckBox", "groupBox", { 640, 152, 191, 20 }, false, "Align images", 10);
    row("groupBox_3", "QGroupBox", "MainWidget", { 110, 360, 651, 331 }, true, "Apply filter", 11);
    row("selectTargetButton", "QPushButton", "groupBox_3", { 20, 270, 201, 41 }, true,
        "Select target...");
    row("targetIcon", "QLabel", "groupBox_3", { 20, 60, 200, 200 }, true, "");
    row("label_6", "QLabel", "groupBox_3", { 20, 20, 201, 31 }, true,
        heading("11pt", "Target image"));
    row("label_7", "QLabel", "groupBox_3", { 280, 70, 101, 181 }, true, "");
    row("applyFilterButton", "QPushButton", "groupBox_3", { 260, 270, 131, 41 }, false,
        "Apply filter");
    row("label_8", "QLabel", "groupBox_3", { 430, 20, 201, 31 }, true,
        heading("11pt", "Resulting image"));
    row("saveResultButton", "QPushButton", "groupBox_3", { 430, 270, 201, 41 }, false,
        "Save result as...");
    row("resultIcon", "QLabel", "groupBox_3", { 430, 60, 200, 200 }, true, "");
}

void TestMainWidget::formWidgets()
{
    QFETCH(int, index);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);
    QFETCH(int, ownFont);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QWidget *w = widget(name);
    QVERIFY2(w, "no widget of that name");
    QCOMPARE(m_window->findChildren<QWidget *>().indexOf(w), index);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(textOf(w), text);
    QCOMPARE(w->testAttribute(Qt::WA_SetFont), ownFont != 0);
    QCOMPARE(w->font().pointSize(), ownFont ? ownFont : w->parentWidget()->font().pointSize());
}

void TestMainWidget::freshWindow()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWidget"));
    QCOMPARE(m_window->size(), QSize(862, 700));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chromaloom v. 0.5"));

    QCOMPARE(m_window->findChildren<QWidget *>().size(), 28); // each placed by formWidgets()

    QVERIFY(widget<QAbstractButton>("radioCurves")->isChecked());
    for (const char *name : { "radioMixer", "radioMapping", "checkBoxAlign" })
        QVERIFY2(!widget<QAbstractButton>(name)->isChecked(), name);
    for (const QString &name : Previews) {
        const auto *label = widget<QLabel>(name);
        QCOMPARE(label->frameShape(), QFrame::Box);
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QVERIFY2(label->pixmap().isNull(), qPrintable(name));
    }
    QVERIFY(message().isEmpty());
    QCOMPARE(dialogDir(), QStringLiteral("."));
}

void TestMainWidget::arrowsAndLanguageChange()
{
    const QImage arrow(QStringLiteral(":/Resources/arrow01.png"));
    QCOMPARE(arrow.size(), QSize(85, 176));
    QVERIFY(arrow.hasAlphaChannel());
    QCOMPARE(arrow.dotsPerMeterX(), 2835);
    QCOMPARE(qAlpha(arrow.pixel(0, 0)), 0);
    QCOMPARE(arrow.pixel(20, 86), qRgb(255, 255, 255));
    QCOMPARE(arrow.pixel(60, 86), qRgb(255, 255, 255));

    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("broken.png", "broken"));
    QVERIFY(!message().isEmpty());
    widget<QPushButton>("loadSourceButton")->setText(QStringLiteral("changed"));
    QEvent event(QEvent::LanguageChange);
    QCoreApplication::sendEvent(m_window.get(), &event);

    // The texts are set again; the pictures stay.
    QVERIFY(message().isEmpty());
    QCOMPARE(widget<QPushButton>("loadSourceButton")->text(), QStringLiteral("Load source..."));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chromaloom v. 0.5"));
    QCOMPARE(preview("filterSourceIcon").size(), QSize(200, 150));
    for (const QString &name : Arrows) {
        QVERIFY2(preview(name).size() == QSize(85, 176), qPrintable(name));
        QVERIFY2(preview(name).hasAlphaChannel(), qPrintable(name));
    }
}

void TestMainWidget::cancelledDialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expectedMessage");

    const auto row = [](const char *button, const char *kind, const char *caption,
                        const QString &filter, const char *message) {
        QTest::newRow(button) << button << kind << caption << filter << message;
    };
    // A cancelled image dialog leaves even the message alone.
    row("loadSourceButton", "open", "Select source image file", ImageFilter, "Filter applied.");
    row("loadProductButton", "open", "Select product image file", ImageFilter, "Filter applied.");
    row("selectTargetButton", "open", "Select target image file", ImageFilter, "Filter applied.");
    row("saveResultButton", "save", "Save resulting image as", ImageFilter,
        "WARNING: Failed to save  image.");
    row("saveFilterButton", "save", "Save filter as", FilterFilter,
        "WARNING: Failed to save  filter.");
    row("loadFilterButton", "open", "Select filter to load", FilterFilter,
        "WARNING: Failed to load  filter.");
}

void TestMainWidget::cancelledDialogs()
{
    QFETCH(QString, button);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QString, filter);
    QFETCH(QString, expectedMessage);

    prepareResult();
    const auto previewKeys = [this] {
        QList<qint64> keys;
        for (const QString &name : Previews)
            keys.append(preview(name).cacheKey());
        return keys;
    };
    const QList<qint64> pictures = previewKeys();
    m_window->calls.clear();
    cancel(button);
    QCOMPARE(m_window->calls, QList<QStringList>({ { kind, caption, m_dir->path(), filter } }));

    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), CommandButtons);
    QCOMPARE(previewKeys(), pictures);
    QCOMPARE(dialogDir(), m_dir->path());
}

void TestMainWidget::loadImages_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("generateEnabled");
    QTest::addColumn<QString>("expectedMessage");

    const auto row = [](const char *name, const char *source, const char *product,
                        const char *target, bool generateEnabled, const char *message) {
        QTest::newRow(name) << source << product << target << generateEnabled << message;
    };
    row("equal sizes", "640x480", "640x480", "", true, "");
    row("different sizes", "640x480", "480x640", "", false,
        "WARNING: source image size (640x480) differs from the one pruduct image (480x640). Filter "
        "can not be generated.");
    row("only source", "640x480", "", "", false, "");
    row("only product", "", "640x480", "", false, "");
    row("unreadable product", "640x480", "broken", "", false,
        "WARNING: Failed to load product.png image.");
    // Any later update replaces that warning with the size warning.
    row("unreadable product, then a target", "640x480", "broken", "20x20", false,
        "WARNING: source image size (640x480) differs from the one pruduct image (0x0). Filter "
        "can not be generated.");
    row("unreadable source, then product", "broken", "640x480", "", false,
        "WARNING: source image size (0x0) differs from the one pruduct image (640x480). Filter "
        "can not be generated.");
    // Two unreadable files are not a pair a filter can be learnt from.
    row("both unreadable", "broken", "broken", "", false,
        "WARNING: Failed to load product.png image.");
}

void TestMainWidget::loadImages()
{
    QFETCH(QString, source);
    QFETCH(QString, product);
    QFETCH(QString, target);
    QFETCH(bool, generateEnabled);
    QFETCH(QString, expectedMessage);

    if (!source.isEmpty()) {
        click("loadSourceButton", imageFile("source.png", source));
        QCOMPARE(preview("filterSourceIcon").isNull(), source == QLatin1String("broken"));
    }
    if (!product.isEmpty()) {
        click("loadProductButton", imageFile("product.png", product, 1));
        QCOMPARE(preview("filterProductIcon").isNull(), product == QLatin1String("broken"));
    }
    if (!target.isEmpty())
        click("selectTargetButton", imageFile("target.png", target));
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(),
             generateEnabled ? QStringList { "generateFilterButton" } : QStringList());
}

void TestMainWidget::previews_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QSize>("previewSize");

    QTest::newRow("landscape") << "640x480" << QSize(200, 150);
    QTest::newRow("portrait") << "480x640" << QSize(150, 200);
    QTest::newRow("small is enlarged") << "100x50" << QSize(200, 100);
}

void TestMainWidget::previews()
{
    QFETCH(QString, image);
    QFETCH(QSize, previewSize);

    click("loadSourceButton", imageFile("a.png", image));
    click("loadProductButton", imageFile("b.png", image));
    click("selectTargetButton", imageFile("c.png", image));
    click("generateFilterButton");
    click("applyFilterButton");
    for (const QString &name : Previews)
        QVERIFY2(preview(name).size() == previewSize, qPrintable(name));
}

void TestMainWidget::newTarget()
{
    prepareResult();
    const qint64 result = preview("resultIcon").cacheKey();

    // An unreadable target has nothing to apply the filter to; the result stays.
    click("selectTargetButton", imageFile("broken.png", "broken"));
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load broken.png image."));
    QCOMPARE(enabledCommands(),
             QStringList({ "generateFilterButton", "saveFilterButton", "saveResultButton" }));

    click("selectTargetButton", imageFile("other.png", "10x10"));
    QVERIFY(message().isEmpty());
    QCOMPARE(enabledCommands(), CommandButtons);
    QCOMPARE(preview("targetIcon").size(), QSize(200, 200));
    QCOMPARE(preview("resultIcon").cacheKey(), result);

    click("applyFilterButton");
    QCOMPARE(preview("resultIcon").size(), QSize(200, 200));
}

void TestMainWidget::generate_data()
{
    QTest::addColumn<QList<QRgb>>("sourcePixels");
    QTest::addColumn<QList<QRgb>>("productPixels");
    QTest::addColumn<QString>("expectedMessage");

    QTest::newRow("1x1 pair") << QList<QRgb> { qRgb(10, 20, 30) }
                              << QList<QRgb> { qRgb(40, 50, 60) }
                              << "Filter generation successful. [Coverage: 0.390625%. Max "
                                 "inconsistance: 0. Max deviation: 0. Mid deviation: 0.]";
    // Red 10 maps to 20 and to 25: the curve says 22, so the deviations are 2 and 3.
    QTest::newRow("inconsistent pair")
        << QList<QRgb> { qRgb(10, 0, 0), qRgb(10, 0, 0) }
        << QList<QRgb> { qRgb(20, 0, 0), qRgb(25, 0, 0) }
        << "Filter generation successful. [Coverage: 0.390625%. Max inconsistance: 5. Max "
           "deviation: 3. Mid deviation: 0.833333.]";
}

void TestMainWidget::generate()
{
    QFETCH(QList<QRgb>, sourcePixels);
    QFETCH(QList<QRgb>, productPixels);
    QFETCH(QString, expectedMessage);

    const auto write = [this](const QString &name, const QList<QRgb> &pixels) {
        QImage image(int(pixels.size()), 1, QImage::Format_RGB32);
        for (int x = 0; x < pixels.size(); ++x)
            image.setPixel(x, 0, pixels.at(x));
        image.save(path(name));
        return path(name);
    };
    click("loadSourceButton", write("source.png", sourcePixels));
    click("loadProductButton", write("product.png", productPixels));
    click("generateFilterButton");
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), QStringList({ "generateFilterButton", "saveFilterButton" }));

    click("selectTargetButton", write("target.png", sourcePixels));
    QCOMPARE(enabledCommands(),
             QStringList({ "generateFilterButton", "saveFilterButton", "applyFilterButton" }));
    QVERIFY(preview("resultIcon").isNull());
}

void TestMainWidget::saveAndLoadFilter()
{
    prepareResult();
    const qint64 result = preview("resultIcon").cacheKey();
    click("saveFilterButton", path("warm.cml"));
    click("loadFilterButton", path("warm.cml"));
    QCOMPARE(message(), QStringLiteral("Filter warm.cml loaded."));
    QCOMPARE(enabledCommands(), CommandButtons);
    QCOMPARE(preview("resultIcon").cacheKey(), result);

    // A failed load still destroys the filter it was to replace.
    QVERIFY(QDir(m_dir->path()).mkdir("filters"));
    QFile junk(path("filters/junk.cml"));
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("just some text\n") > 0);
    junk.close();
    click("loadFilterButton", junk.fileName());
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load junk.cml filter."));
    QCOMPARE(enabledCommands(), QStringList({ "generateFilterButton", "saveResultButton" }));
    QCOMPARE(dialogDir(), path("filters"));
}

void TestMainWidget::save_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expectedMessage");
    QTest::addColumn<bool>("written");

    const auto row
        = [](const char *tag, const char *button, const char *name, const char *message,
             bool written) { QTest::newRow(tag) << button << name << message << written; };
    const char *result = "saveResultButton";
    row("result", result, "out.png", "Image out.png saved.", true);
    row("result, unknown suffix", result, "out.xyz", "WARNING: Failed to save out.xyz image.",
        false);
    // The dialogs start in the chosen directory even when saving there failed.
    row("result, missing directory", result, "gone/out.png",
        "WARNING: Failed to save out.png image.", false);
    row("filter", "saveFilterButton", "warm.cml", "Filter warm.cml saved.", true);
    row("filter, missing directory", "saveFilterButton", "no/such/dir/warm.cml",
        "WARNING: Failed to save warm.cml filter.", false);
}

void TestMainWidget::save()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    QFETCH(QString, expectedMessage);
    QFETCH(bool, written);

    prepareResult();
    const QFileInfo file(path(name));
    click(button, file.filePath());
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), CommandButtons);
    // Exactly the chosen file, with no suffix of its own appended.
    QCOMPARE(file.dir().entryList({ file.completeBaseName() + QLatin1Char('*') }),
             written ? QStringList { file.fileName() } : QStringList());
    if (written && button == QLatin1String("saveResultButton"))
        QCOMPARE(QImage(file.filePath()).size(), QSize(30, 20));
    QCOMPARE(dialogDir(), file.path());
}

void TestMainWidget::saveKeepsOldFile_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("limit"); // the file size limit of a full disk; -1: none
    QTest::addColumn<QString>("expectedMessage");

    const char *result = "saveResultButton";
    QTest::newRow("result over a text file")
        << result << "notes.txt" << qint64(-1) << "WARNING: Failed to save notes.txt image.";
    for (const qint64 limit : { 0, 1024 }) {
        const char *left = limit == 0 ? "nothing left" : "1 KB left";
        QTest::addRow("result as PNG, %s", left)
            << result << "old.png" << limit << "WARNING: Failed to save old.png image.";
        QTest::addRow("result as TIFF, %s", left)
            << result << "old.tif" << limit << "WARNING: Failed to save old.tif image.";
        QTest::addRow("filter, %s", left)
            << "saveFilterButton"
            << "old.cml" << limit << "WARNING: Failed to save old.cml filter.";
    }
}

void TestMainWidget::saveKeepsOldFile()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    QFETCH(qint64, limit);
    QFETCH(QString, expectedMessage);

    prepareResult();
    const QByteArray old = "the user's old file\n";
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    }
    const QStringList before = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    {
        const ScopedFileSizeLimit fullDisk(limit < 0 ? RLIM_INFINITY : rlim_t(limit));
        click(button, path(name));
    }
    QCOMPARE(message(), expectedMessage);
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), before);
}

void TestMainWidget::photoTarget()
{
    // A portrait JPEG stored sideways with a colour profile, and a second target after it.
    const auto tagged = [this](const QString &name, const char *make, int orientation) {
        QImage stored = randomImage(60, 40, QImage::Format_RGB32, 8);
        stored.setColorSpace(QColorSpace::AdobeRgb);
        QVERIFY(stored.save(path(name), "jpg", 100));
        const auto image = Exiv2::ImageFactory::open(path(name).toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Make"] = make;
        image->exifData()["Exif.Image.Orientation"] = uint16_t(orientation);
        image->writeMetadata();
    };
    tagged(QStringLiteral("portrait.jpg"), "First camera", 6);
    tagged(QStringLiteral("later.jpg"), "Second camera", 1);

    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("product.png", "64x48", 40));
    click("selectTargetButton", path("portrait.jpg"));
    QCOMPARE(preview("targetIcon").size(), QSize(133, 200));
    click("generateFilterButton");
    click("applyFilterButton");
    click("selectTargetButton", path("later.jpg"));
    click("saveResultButton", path("result.jpg"));
    QCOMPARE(message(), QStringLiteral("Image result.jpg saved."));

    QImageReader reader(path("result.jpg"));
    reader.setAutoTransform(false);
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), QSize(40, 60));
    QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
    QCOMPARE(saved.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    QCOMPARE(
        ImageFile::read(path("result.jpg")).metadata().value(QStringLiteral("Exif.Image.Make")),
        QStringLiteral("First camera"));
}

void TestMainWidget::uprightTarget_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("name");
    QTest::newRow("PNG, Exiv2's raw profile")
        << QByteArray("png") << QStringLiteral("portrait.png");
    QTest::newRow("PNG, eXIf chunk") << QByteArray("png eXIf") << QStringLiteral("portrait.png");
    QTest::newRow("TIFF") << QByteArray("tiff") << QStringLiteral("portrait.tif");
    QTest::newRow("WebP") << QByteArray("webp") << QStringLiteral("portrait.webp");
}

void TestMainWidget::uprightTarget()
{
    QFETCH(QByteArray, kind);
    QFETCH(QString, name);
    // A portrait photo stored sideways, to be turned right.
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly)
            && file.write(storedPhoto(randomImage(60, 40, QImage::Format_RGB32, 8), kind, 6)) > 0);
    file.close();

    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("product.png", "64x48", 40));
    click("selectTargetButton", path(name));
    QCOMPARE(preview("targetIcon").size(), QSize(133, 200));
    click("generateFilterButton");
    click("applyFilterButton");
    click("saveResultButton", path("result.png"));
    QCOMPARE(message(), QStringLiteral("Image result.png saved."));

    QCOMPARE(QImage(path("result.png")).size(), QSize(40, 60));
    const PhotoMetadata saved = ImageFile::read(path("result.png")).metadata();
    QCOMPARE(saved.orientation(), 1);
    QCOMPARE(saved.value(QStringLiteral("Exif.Image.Make")), QStringLiteral("Chromaloom Test"));
}

void TestMainWidget::oversizedTarget()
{
    // A header that promises 20000x20000 pixels is refused before they take any memory.
    QFile bomb(path("bomb.png"));
    QVERIFY(bomb.open(QIODevice::WriteOnly));
    bomb.write("\x89PNG\r\n\x1a\n"
               + pngChunk("IHDR",
                          bigEndian32(20000) + bigEndian32(20000) + QByteArray("\x08\x02\0\0\0", 5))
               + pngChunk("IDAT", QByteArray::fromHex("789c030000000001")) + pngChunk("IEND", {}));
    bomb.close();
    click("selectTargetButton", path("bomb.png"));
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load bomb.png image."));
    QVERIFY(preview("targetIcon").isNull());
}

void TestMainWidget::outOfMemory()
{
    prepareResult();
    const qint64 result = preview("resultIcon").cacheKey();
    // Nothing half-made stays behind: the old filter goes, the result stays.
    m_window->outOfMemory = true;
    click("generateFilterButton");
    QCOMPARE(message(), QStringLiteral("WARNING: Not enough memory to generate the filter."));
    QCOMPARE(enabledCommands(), QStringList({ "generateFilterButton", "saveResultButton" }));
    QCOMPARE(preview("resultIcon").cacheKey(), result);

    m_window->outOfMemory = false;
    click("generateFilterButton");
    m_window->outOfMemory = true;
    click("applyFilterButton");
    QCOMPARE(message(), QStringLiteral("WARNING: Not enough memory to apply the filter."));
    QCOMPARE(enabledCommands(),
             QStringList({ "generateFilterButton", "saveFilterButton", "applyFilterButton" }));
    QVERIFY(preview("resultIcon").isNull());

    m_window->outOfMemory = false;
    click("applyFilterButton");
    QCOMPARE(message(), QStringLiteral("Filter applied."));
    QCOMPARE(enabledCommands(), CommandButtons);
}

void TestMainWidget::messageLine()
{
    // Long messages are cut off by the line's edge: the tooltip holds all of it, and the text
    // can be selected and copied. A name that looks like markup shows as it is.
    const auto *line = widget<QLabel>("messageLabel");
    QVERIFY(line->textInteractionFlags() & Qt::TextSelectableByMouse);
    click("loadSourceButton", imageFile("source.png", "640x480"));
    click("loadProductButton", imageFile("<b>bold.png", "broken"));
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load <b>bold.png image."));
    QCOMPARE(line->textFormat(), Qt::PlainText);

    click("selectTargetButton", imageFile("target.png", "20x20"));
    QVERIFY2(line->fontMetrics().horizontalAdvance(message()) > line->width(), "not cut off");
    QCOMPARE(line->toolTip(), message());
    QEvent event(QEvent::LanguageChange);
    QCoreApplication::sendEvent(m_window.get(), &event);
    QCOMPARE(line->toolTip(), QString());
}

void TestMainWidget::dropLikeButton_data()
{
    QTest::addColumn<QString>("prepare"); // "", "source" or "result"
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("dropOn");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // as makeFile() takes it

    const auto row = [](const char *tag, const char *prepare, const char *button,
                        const char *dropOn, const char *name, const char *kind) {
        QTest::newRow(tag) << prepare << button << dropOn << name << kind;
    };
    row("image on source", "", "loadSourceButton", "filterSourceIcon", "photo.JPG", "64x48");
    row("image on product, sizes differ", "source", "loadProductButton", "filterProductIcon",
        "product.png", "48x64");
    row("WebP on target", "", "selectTargetButton", "targetIcon", "target.webp", "40x30");
    row("target after a result", "result", "selectTargetButton", "targetIcon", "next.png", "50x40");
    row("unreadable target", "result", "selectTargetButton", "targetIcon", "bad.png", "broken");
    row("filter on the column's button", "result", "loadFilterButton", "loadFilterButton",
        "warm.cml", "filter");
    row("filter on a disabled button", "", "loadFilterButton", "generateFilterButton", "warm.cml",
        "filter");
    row("junk filter on the column's heading", "result", "loadFilterButton", "label_5", "junk.cml",
        "junk");
}

void TestMainWidget::dropLikeButton()
{
    QFETCH(QString, prepare);
    QFETCH(QString, button);
    QFETCH(QString, dropOn);
    QFETCH(QString, name);
    QFETCH(QString, kind);

    // The same steps twice, in a fresh window each time: the last one once through the
    // button's dialog, once dropped; the dropped file lies in a folder of its own.
    QList<QStringList> states;
    for (const bool dropped : { false, true }) {
        newWindow();
        if (prepare == QLatin1String("source"))
            click("loadSourceButton", imageFile("source.png", "64x48"));
        else if (prepare == QLatin1String("result"))
            prepareResult();
        const QString file = makeFile(QStringLiteral("dropped/") + name, kind);
        if (dropped)
            QVERIFY2(drop(dropOn, { QUrl::fromLocalFile(file) }), "the drop was refused");
        else
            click(button, file);
        QVERIFY(!m_window->unexpectedDialog);
        states.append(windowState());
    }
    QCOMPARE(states.at(1), states.at(0));
}

void TestMainWidget::ignoredDrops_data()
{
    QTest::addColumn<QString>("dropOn");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("kind"); // of every named file, as makeFile() takes it

    const auto row = [](const char *tag, const char *dropOn, const QStringList &names,
                        const char *kind) { QTest::newRow(tag) << dropOn << names << kind; };
    row("text on a preview", "filterSourceIcon", { "notes.txt" }, "text");
    row("filter on a preview", "filterSourceIcon", { "warm.cml" }, "filter");
    row("image on the filter column", "loadFilterButton", { "photo.png" }, "20x20");
    row("image on the result", "resultIcon", { "photo.png" }, "20x20");
    row("image beside the previews", "groupBox_3", { "photo.png" }, "20x20");
    row("two images", "filterSourceIcon", { "a.png", "b.png" }, "20x20");
    row("missing image", "filterProductIcon", { "gone.png" }, "missing");
    row("folder named like an image", "filterSourceIcon", { "folder.png" }, "folder");
    row("remote image", "targetIcon", { "https://example.com/photo.png" }, "");
}

void TestMainWidget::ignoredDrops()
{
    QFETCH(QString, dropOn);
    QFETCH(QStringList, names);
    QFETCH(QString, kind);

    QList<QUrl> urls;
    for (const QString &name : names) {
        urls.append(name.contains(QLatin1Char(':')) ? QUrl(name)
                                                    : QUrl::fromLocalFile(makeFile(name, kind)));
    }
    const QStringList fresh = windowState();
    newWindow();
    QVERIFY2(!drop(dropOn, urls), "the drop was taken");
    QCOMPARE(windowState(), fresh);
}

void TestMainWidget::shortcuts_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("withResult"); // otherwise fresh, where the commands are disabled

    const std::pair<const char *, const char *> keys[] = {
        { "Ctrl+1", "loadSourceButton" },       { "Ctrl+2", "loadProductButton" },
        { "Ctrl+G", "generateFilterButton" },   { "Ctrl+Shift+S", "saveFilterButton" },
        { "Ctrl+L", "loadFilterButton" },       { "Ctrl+O", "selectTargetButton" },
        { "Ctrl+Return", "applyFilterButton" }, { "Ctrl+S", "saveResultButton" },
    };
    for (const bool withResult : { false, true }) {
        for (const auto &[key, button] : keys) {
            QTest::addRow("%s, %s", key, withResult ? "with a result" : "fresh")
                << QKeySequence(QString::fromLatin1(key)) << button << withResult;
        }
    }
}

void TestMainWidget::shortcuts()
{
    QFETCH(QKeySequence, key);
    QFETCH(QString, button);
    QFETCH(bool, withResult);

    if (withResult)
        prepareResult();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));

    QObject spy;
    QStringList clicked;
    for (auto *each : m_window->findChildren<QPushButton *>()) {
        connect(each, &QAbstractButton::clicked, &spy,
                [&clicked, each] { clicked.append(each->objectName()); });
    }
    const bool enabled = widget(button)->isEnabled();
    if (enabled && DialogButtons.contains(button))
        m_window->answers.append(QString()); // cancelled
    QTest::keySequence(m_window.get(), key);
    QCOMPARE(clicked, enabled ? QStringList { button } : QStringList());
    QCOMPARE(widget(button)->toolTip(), key.toString(QKeySequence::NativeText));
}

void TestMainWidget::dialogFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QList<QByteArray>>("formats");

    QTest::newRow("open") << ImageFileTypes::openFilter() << QImageReader::supportedImageFormats();
    QTest::newRow("save") << ImageFileTypes::saveFilter() << QImageWriter::supportedImageFormats();
}

void TestMainWidget::dialogFilters()
{
    QFETCH(QString, filter);
    QFETCH(QList<QByteArray>, formats);

    // One entry: the commands' list, then every further format the plugins handle.
    QCOMPARE(ImageFileTypes::commandFilter(), ImageFilter);
    QVERIFY2(filter.startsWith(ImageFilter.chopped(1)) && filter.endsWith(QLatin1Char(')')),
             qPrintable(filter));
    QVERIFY2(formats.contains("webp"), "the image format plugins are not installed");
    QStringList patterns
        = filter.mid(ImageFilter.indexOf(QLatin1Char('(')) + 1).chopped(1).split(QLatin1Char(' '));
    for (const QByteArray &format : formats) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(format);
        QVERIFY2(patterns.contains(pattern), qPrintable(pattern));
    }
    const auto count = patterns.size();
    patterns.removeDuplicates();
    QCOMPARE(patterns.size(), count);
}

void TestMainWidget::compressedPng()
{
    // A smooth picture, as photos are: PNG's compression packs it far below its raw size,
    // and the pixels come back unchanged.
    QImage gradient(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y) {
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, qRgb(x * 255 / 299, y * 255 / 199, (x + y) / 2 % 256));
    }
    QVERIFY(gradient.save(path("gradient.png")));
    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("product.png", "64x48", 40));
    click("selectTargetButton", path("gradient.png"));
    click("generateFilterButton");
    click("applyFilterButton");
    click("saveResultButton", path("result.png"));
    click("saveResultButton", path("result.bmp"));

    const qint64 raw = qint64(gradient.width()) * gradient.height() * 3;
    QVERIFY2(QFileInfo(path("result.png")).size() < raw / 4,
             qPrintable(QString::number(QFileInfo(path("result.png")).size())));
    QCOMPARE(QImage(path("result.png")).convertToFormat(QImage::Format_RGB32),
             QImage(path("result.bmp")).convertToFormat(QImage::Format_RGB32));
}

void TestMainWidget::desktopFiles_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");

    QTest::newRow("desktop entry")
        << "desktop-file-validate" << QStringList() << "org.chromaloom.chromaloom.desktop";
    QTest::newRow("metainfo") << "appstreamcli" << QStringList { "validate", "--no-net" }
                              << "org.chromaloom.chromaloom.metainfo.xml";
}

void TestMainWidget::desktopFiles()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);

    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        QSKIP(
            qPrintable(tool + QStringLiteral(" is not installed (scripts/bootstrap installs it)")));
    const QString source = QFINDTESTDATA(QStringLiteral("../app/") + file);
    QVERIFY2(!source.isEmpty(), qPrintable(file + QStringLiteral(" not found")));

    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(program, arguments << source);
    QVERIFY2(validator.waitForFinished(), qPrintable(validator.errorString()));
    const QString output = QString::fromUtf8(validator.readAll());
    QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
             qPrintable(output));
    // Hints are problems too; the AppStream validator always reports its verdict.
    QVERIFY2(!output.contains(QLatin1String("W:")) && !output.contains(QLatin1String("warning")),
             qPrintable(output));
}

void TestMainWidget::endToEnd()
{
    // A first filter, then the one that counts: generating again replaces it.
    click("loadSourceButton", imageFile("first.png", "16x16"));
    click("loadProductButton", imageFile("firstproduct.png", "16x16", 3));
    click("generateFilterButton");
    const QString first = message();

    const QString source = imageFile("source.png", "64x48");
    const QString product = imageFile("product.png", "64x48", 77);
    const QString target = imageFile("target.png", "50x30", 12);
    click("loadSourceButton", source);
    click("loadProductButton", product);
    click("generateFilterButton");
    const auto filter = CurvesFilter::generate(QImage(source), QImage(product));
    QCOMPARE(message(), FilterMessages::generationMessage(*filter));
    QVERIFY2(message() != first, qPrintable(first));
    click("saveFilterButton", path("learnt.cml"));
    click("selectTargetButton", target);
    click("applyFilterButton");
    click("saveResultButton", path("result.png"));
    QCOMPARE(message(), QStringLiteral("Image result.png saved."));

    const QImage expected = filter->apply(QImage(target)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(QImage(path("result.png")).convertToFormat(QImage::Format_ARGB32), expected);

    // The saved filter, loaded in a new window, gives the same result.
    m_window = std::make_unique<TestWindow>();
    m_window->show();
    click("selectTargetButton", target);
    click("loadFilterButton", path("learnt.cml"));
    click("applyFilterButton");
    click("saveResultButton", path("again.png"));
    QCOMPARE(QImage(path("again.png")).convertToFormat(QImage::Format_ARGB32), expected);
}

QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"
