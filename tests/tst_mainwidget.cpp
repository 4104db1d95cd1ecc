#include "curvesfilter.h"
#include "filtermessages.h"
#include "mainwidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <new>

namespace {

struct DialogCall
{
    bool save;
    QString caption;
    QString dir;
    QString filter;
};

// The window with its file dialogs answered from a queue, and with generation and
// application that can be made to run out of memory.
class TestWindow : public MainWidget
{
public:
    QStringList answers;
    QList<DialogCall> calls;
    bool unexpectedDialog = false;
    bool dialogUnderWaitCursor = false;
    bool generateThrows = false;
    bool applyThrows = false;
    QList<Qt::CursorShape> workCursors;

protected:
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        return answer({ false, caption, dir, filter });
    }

    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        return answer({ true, caption, dir, filter });
    }

    std::unique_ptr<CurvesFilter> generateFilter(const QImage &source,
                                                 const QImage &product) override
    {
        noteWorkCursor();
        if (generateThrows)
            throw std::bad_alloc();
        return MainWidget::generateFilter(source, product);
    }

    QImage applyFilter(const CurvesFilter &filter, const QImage &image) override
    {
        noteWorkCursor();
        if (applyThrows)
            throw std::bad_alloc();
        return MainWidget::applyFilter(filter, image);
    }

private:
    QString answer(const DialogCall &call)
    {
        calls.append(call);
        if (QApplication::overrideCursor())
            dialogUnderWaitCursor = true;
        if (answers.isEmpty()) {
            unexpectedDialog = true;
            return QString();
        }
        return answers.takeFirst();
    }

    void noteWorkCursor()
    {
        const QCursor *cursor = QApplication::overrideCursor();
        workCursors.append(cursor ? cursor->shape() : Qt::ArrowCursor);
    }
};

const QString ImageFilter = QStringLiteral(
    "Image files (*.bmp *.gif *.jpg *.jpeg *.png *.pbm *.pgm *.ppm *.tif *.tiff *.xbm *.xpm)");
const QString FilterFilter = QStringLiteral("Chromaloom filters (*.cml)");

// Object names in creation order, which is also the keyboard focus order.
const QStringList FormWidgets = {
    "groupBox",
    "filterSourceIcon",
    "filterProductIcon",
    "label",
    "label_2",
    "label_3",
    "loadSourceButton",
    "loadProductButton",
    "groupBox_2",
    "radioCurves",
    "radioMixer",
    "radioMapping",
    "loadFilterButton",
    "label_4",
    "generateFilterButton",
    "label_5",
    "saveFilterButton",
    "messageLabel",
    "checkBoxAlign",
    "groupBox_3",
    "selectTargetButton",
    "targetIcon",
    "label_6",
    "label_7",
    "applyFilterButton",
    "label_8",
    "saveResultButton",
    "resultIcon",
};

const QStringList CommandButtons
    = { "generateFilterButton", "saveFilterButton", "applyFilterButton", "saveResultButton" };

QRgb patternPixel(int x, int y, int seed)
{
    return qRgb((x * 7 + y * 3 + seed) & 255, (x * 5 + y * 11 + 2 * seed) & 255,
                (x * 13 + y + 3 * seed) & 255);
}

QString textOf(const QWidget *widget)
{
    if (const auto *box = qobject_cast<const QGroupBox *>(widget))
        return box->title();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    QString text = qobject_cast<const QLabel *>(widget)->text();
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
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
    void formCreationOrder();
    void formStatesAndFonts();
    void headings_data();
    void headings();
    void arrows();
    void languageChangeKeepsPictures();

    void freshWindow();
    void dialogs_data();
    void dialogs();
    void loadImages_data();
    void loadImages();
    void targetLoadRepeatsSizeWarning_data();
    void targetLoadRepeatsSizeWarning();
    void unreadableTargetCannotBeFiltered();
    void cancelledImageLoadChangesNothing_data();
    void cancelledImageLoadChangesNothing();
    void previews_data();
    void previews();
    void newTargetKeepsResult();

    void generate_data();
    void generate();
    void generateTwice();
    void saveAndLoadFilter();
    void failedFilterLoad_data();
    void failedFilterLoad();
    void cancelledFilterDialogs_data();
    void cancelledFilterDialogs();
    void lastPathMovesOnFailedSave();
    void apply();
    void saveResult_data();
    void saveResult();
    void outOfMemory_data();
    void outOfMemory();
    void workRunsUnderWaitCursor();

    void endToEnd();

private:
    template<typename T = QWidget>
    T *widget(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }
    QString message() const { return widget<QLabel>("messageLabel")->text(); }
    QPixmap preview(const QString &name) const { return widget<QLabel>(name)->pixmap(); }
    QStringList enabledCommands() const;
    QString path(const QString &name) const { return m_dir->filePath(name); }

    // Writes an image of the given size ("640x480"), or a file no reader understands
    // ("broken"), and returns its path.
    QString imageFile(const QString &name, const QString &kind, int seed = 0) const;
    // Clicks the button; its dialog, if it opens one, returns the answer.
    void click(const QString &button, const QString &answer = QString());
    // Clicks the button and cancels the dialog it opens.
    void cancel(const QString &button);
    // The window with source, product and target loaded, a filter generated and applied.
    void prepareResult();
    // The start directory of the next dialog, found by cancelling an image load.
    QString nextDialogDir();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestWindow> m_window;
};

void TestMainWidget::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    m_window = std::make_unique<TestWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWidget::cleanup()
{
    QVERIFY2(!m_window->unexpectedDialog, "a dialog opened that the test did not answer");
    QVERIFY2(m_window->answers.isEmpty(), "a dialog the test answered never opened");
    QVERIFY2(!m_window->dialogUnderWaitCursor, "a dialog opened under the wait cursor");
    QVERIFY2(!QApplication::overrideCursor(), "the wait cursor was not restored");
    m_window.reset();
    m_dir.reset();
}

QStringList TestMainWidget::enabledCommands() const
{
    QStringList enabled;
    for (const QString &name : CommandButtons) {
        if (widget(name)->isEnabled())
            enabled.append(name);
    }
    return enabled;
}

QString TestMainWidget::imageFile(const QString &name, const QString &kind, int seed) const
{
    QString file = path(name);
    if (kind == QLatin1String("broken")) {
        QFile broken(file);
        if (!broken.open(QIODevice::WriteOnly) || broken.write("not an image") < 0)
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }
    const QStringList size = kind.split(QLatin1Char('x'));
    QImage image(size.at(0).toInt(), size.at(1).toInt(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, patternPixel(x, y, seed));
    }
    if (!image.save(file))
        qFatal("cannot write %s", qPrintable(file));
    return file;
}

void TestMainWidget::click(const QString &button, const QString &answer)
{
    if (!answer.isNull())
        m_window->answers.append(answer);
    auto *target = widget<QPushButton>(button);
    QVERIFY2(target->isEnabled(), qPrintable(button + QStringLiteral(" is disabled")));
    QTest::mouseClick(target, Qt::LeftButton);
}

void TestMainWidget::cancel(const QString &button)
{
    m_window->answers.append(QString());
    click(button);
}

void TestMainWidget::prepareResult()
{
    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("product.png", "64x48", 40));
    click("selectTargetButton", imageFile("target.png", "30x20", 7));
    click("generateFilterButton");
    click("applyFilterButton");
    QCOMPARE(message(), QStringLiteral("Filter applied."));
}

QString TestMainWidget::nextDialogDir()
{
    const int before = int(m_window->calls.size());
    cancel("loadSourceButton");
    if (m_window->calls.size() != before + 1)
        return QStringLiteral("<no dialog>");
    return m_window->calls.last().dir;
}

void TestMainWidget::formWidgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, const char *cls, const char *parent, QRect geometry,
                        bool enabled, const char *text) {
        QTest::newRow(name) << QString::fromLatin1(cls) << QString::fromLatin1(parent) << geometry
                            << enabled << QString::fromLatin1(text);
    };
    row("groupBox", "QGroupBox", "MainWidget", { 10, 10, 841, 341 }, true, "Filter factory");
    row("filterSourceIcon", "QLabel", "groupBox", { 10, 60, 200, 200 }, true, "");
    row("filterProductIcon", "QLabel", "groupBox", { 310, 60, 200, 200 }, true, "");
    row("label", "QLabel", "groupBox", { 10, 20, 201, 31 }, true, "Source image");
    row("label_2", "QLabel", "groupBox", { 310, 20, 201, 31 }, true, "Product image");
    row("label_3", "QLabel", "groupBox", { 220, 70, 101, 181 }, true, "");
    row("loadSourceButton", "QPushButton", "groupBox", { 10, 270, 201, 41 }, true,
        "Load source...");
    row("loadProductButton", "QPushButton", "groupBox", { 310, 270, 201, 41 }, true,
        "Load product...");
    row("groupBox_2", "QGroupBox", "groupBox", { 630, 55, 201, 91 }, true, "Emulation method");
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
    row("label_5", "QLabel", "groupBox", { 630, 20, 201, 31 }, true, "Filter");
    row("saveFilterButton", "QPushButton", "groupBox", { 630, 225, 201, 41 }, false,
        "Save filter as...");
    row("messageLabel", "QLabel", "groupBox", { 10, 317, 821, 20 }, true, "");
    row("checkBoxAlign", "QCheckBox", "groupBox", { 640, 152, 191, 20 }, false, "Align images");
    row("groupBox_3", "QGroupBox", "MainWidget", { 110, 360, 651, 331 }, true, "Apply filter");
    row("selectTargetButton", "QPushButton", "groupBox_3", { 20, 270, 201, 41 }, true,
        "Select target...");
    row("targetIcon", "QLabel", "groupBox_3", { 20, 60, 200, 200 }, true, "");
    row("label_6", "QLabel", "groupBox_3", { 20, 20, 201, 31 }, true, "Target image");
    row("label_7", "QLabel", "groupBox_3", { 280, 70, 101, 181 }, true, "");
    row("applyFilterButton", "QPushButton", "groupBox_3", { 260, 270, 131, 41 }, false,
        "Apply filter");
    row("label_8", "QLabel", "groupBox_3", { 430, 20, 201, 31 }, true, "Resulting image");
    row("saveResultButton", "QPushButton", "groupBox_3", { 430, 270, 201, 41 }, false,
        "Save result as...");
    row("resultIcon", "QLabel", "groupBox_3", { 430, 60, 200, 200 }, true, "");
}

void TestMainWidget::formWidgets()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);

    const QWidget *w = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(w, "no widget of that name");
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(textOf(w), text);
}

void TestMainWidget::formCreationOrder()
{
    QStringList names;
    const QList<QWidget *> children = m_window->findChildren<QWidget *>();
    for (const QWidget *child : children)
        names.append(child->objectName());
    QCOMPARE(names, FormWidgets);
}

void TestMainWidget::formStatesAndFonts()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWidget"));
    QCOMPARE(m_window->size(), QSize(862, 700));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chromaloom v. 0.5"));

    QVERIFY(widget<QRadioButton>("radioCurves")->isChecked());
    QVERIFY(!widget<QRadioButton>("radioMixer")->isChecked());
    QVERIFY(!widget<QRadioButton>("radioMapping")->isChecked());
    QVERIFY(!widget<QCheckBox>("checkBoxAlign")->isChecked());

    // Only the two outer boxes (11 pt) and the method box and check box (10 pt) carry a
    // font of their own; everything else inherits.
    const QMap<QString, int> ownFonts = {
        { "groupBox", 11 }, { "groupBox_3", 11 }, { "groupBox_2", 10 }, { "checkBoxAlign", 10 }
    };
    for (const QString &name : FormWidgets) {
        const QWidget *w = widget(name);
        QVERIFY2(w->testAttribute(Qt::WA_SetFont) == ownFonts.contains(name), qPrintable(name));
        const int expected = ownFonts.value(name, w->parentWidget()->font().pointSize());
        QVERIFY2(w->font().pointSize() == expected, qPrintable(name));
    }
    QCOMPARE(widget("radioMixer")->font().pointSize(), 10);
    QCOMPARE(widget("loadSourceButton")->font().pointSize(), 11);

    for (const char *name :
         { "filterSourceIcon", "filterProductIcon", "targetIcon", "resultIcon" }) {
        const auto *label = widget<QLabel>(name);
        QCOMPARE(label->frameShape(), QFrame::Box);
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QVERIFY2(label->pixmap().isNull(), name);
    }
    QVERIFY(message().isEmpty());
}

void TestMainWidget::headings_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("bodySize");

    QTest::newRow("label") << "Source image"
                           << "8.25pt";
    QTest::newRow("label_2") << "Product image"
                             << "8.25pt";
    QTest::newRow("label_5") << "Filter"
                             << "11pt";
    QTest::newRow("label_6") << "Target image"
                             << "11pt";
    QTest::newRow("label_8") << "Resulting image"
                             << "11pt";
}

void TestMainWidget::headings()
{
    QFETCH(QString, words);
    QFETCH(QString, bodySize);

    const QString html = widget<QLabel>(QString::fromLatin1(QTest::currentDataTag()))->text();
    const QString expected
        = QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                         "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
                         "<html><head><meta name=\"qrichtext\" content=\"1\" />"
                         "<style type=\"text/css\">\np, li { white-space: pre-wrap; }\n"
                         "</style></head><body style=\" font-family:'MS Shell Dlg 2'; "
                         "font-size:%1; font-weight:400; font-style:normal;\">\n"
                         "<p align=\"center\" style=\" margin-top:0px; margin-bottom:0px; "
                         "margin-left:0px; margin-right:0px; -qt-block-indent:0; "
                         "text-indent:0px;\"><span style=\" font-size:12pt;\">%2</span></p>"
                         "</body></html>")
              .arg(bodySize, words);
    QCOMPARE(html, expected);

    QTextDocument document;
    document.setHtml(html);
    QCOMPARE(document.toPlainText(), words);
    const QTextBlock block = document.firstBlock();
    QCOMPARE(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QList<QTextLayout::FormatRange> formats = block.textFormats();
    QCOMPARE(formats.size(), 1);
    QCOMPARE(formats.first().format.fontPointSize(), 12.0);
}

void TestMainWidget::arrows()
{
    const QImage arrow(QStringLiteral(":/Resources/arrow01.png"));
    QCOMPARE(arrow.size(), QSize(85, 176));
    QVERIFY(arrow.hasAlphaChannel());
    QCOMPARE(arrow.dotsPerMeterX(), 2835);
    QCOMPARE(qAlpha(arrow.pixel(0, 0)), 0);
    QCOMPARE(arrow.pixel(20, 86), qRgb(255, 255, 255));
    QCOMPARE(arrow.pixel(60, 86), qRgb(255, 255, 255));

    for (const char *name : { "label_3", "label_4", "label_7" }) {
        const QPixmap pixmap = widget<QLabel>(name)->pixmap();
        QVERIFY2(pixmap.size() == QSize(85, 176), name);
        QVERIFY2(pixmap.hasAlphaChannel(), name);
    }
}

void TestMainWidget::languageChangeKeepsPictures()
{
    click("loadSourceButton", imageFile("source.png", "64x48"));
    click("loadProductButton", imageFile("broken.png", "broken"));
    QVERIFY(!message().isEmpty());
    widget<QPushButton>("loadSourceButton")->setText(QStringLiteral("changed"));

    QEvent event(QEvent::LanguageChange);
    QCoreApplication::sendEvent(m_window.get(), &event);

    QVERIFY(message().isEmpty());
    QCOMPARE(widget<QPushButton>("loadSourceButton")->text(), QStringLiteral("Load source..."));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Chromaloom v. 0.5"));
    QCOMPARE(textOf(widget("label_8")), QStringLiteral("Resulting image"));
    QCOMPARE(preview("filterSourceIcon").size(), QSize(200, 150));
    for (const char *name : { "label_3", "label_4", "label_7" })
        QVERIFY2(preview(name).size() == QSize(85, 176), name);
}

void TestMainWidget::freshWindow()
{
    QVERIFY(enabledCommands().isEmpty());
    QVERIFY(message().isEmpty());
    QCOMPARE(nextDialogDir(), QStringLiteral("."));
    QVERIFY(message().isEmpty());
}

void TestMainWidget::dialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("filter");

    QTest::newRow("load source") << "loadSourceButton" << false << "Select source image file"
                                 << ImageFilter;
    QTest::newRow("load product") << "loadProductButton" << false << "Select product image file"
                                  << ImageFilter;
    QTest::newRow("select target")
        << "selectTargetButton" << false << "Select target image file" << ImageFilter;
    QTest::newRow("save result") << "saveResultButton" << true << "Save resulting image as"
                                 << ImageFilter;
    QTest::newRow("save filter") << "saveFilterButton" << true << "Save filter as" << FilterFilter;
    QTest::newRow("load filter") << "loadFilterButton" << false << "Select filter to load"
                                 << FilterFilter;
}

void TestMainWidget::dialogs()
{
    QFETCH(QString, button);
    QFETCH(bool, save);
    QFETCH(QString, caption);
    QFETCH(QString, filter);

    prepareResult();
    m_window->calls.clear();
    cancel(button);
    QCOMPARE(m_window->calls.size(), 1);
    const DialogCall call = m_window->calls.first();
    QCOMPARE(call.save, save);
    QCOMPARE(call.caption, caption);
    QCOMPARE(call.dir, m_dir->path());
    QCOMPARE(call.filter, filter);
}

void TestMainWidget::loadImages_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("generateEnabled");
    QTest::addColumn<QString>("expectedMessage");

    QTest::newRow("equal sizes") << "640x480"
                                 << "640x480" << true << "";
    QTest::newRow("different sizes")
        << "640x480"
        << "480x640" << false
        << "WARNING: source image size (640x480) differs from the one pruduct image "
           "(480x640). Filter can not be generated.";
    QTest::newRow("only source") << "640x480"
                                 << "" << false << "";
    QTest::newRow("only product") << ""
                                  << "640x480" << false << "";
    QTest::newRow("unreadable product")
        << "640x480"
        << "broken" << false << "WARNING: Failed to load product.png image.";
    QTest::newRow("unreadable source, then product")
        << "broken"
        << "640x480" << false
        << "WARNING: source image size (0x0) differs from the one pruduct image (640x480). "
           "Filter can not be generated.";
    // Two unreadable files are not a pair a filter can be learnt from.
    QTest::newRow("both unreadable")
        << "broken"
        << "broken" << false << "WARNING: Failed to load product.png image.";
}

void TestMainWidget::loadImages()
{
    QFETCH(QString, source);
    QFETCH(QString, product);
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
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(widget("generateFilterButton")->isEnabled(), generateEnabled);
    QCOMPARE(enabledCommands().size(), generateEnabled ? 1 : 0);
}

void TestMainWidget::targetLoadRepeatsSizeWarning_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("expectedMessage");

    QTest::newRow("different sizes") << "800x600"
                                     << "WARNING: source image size (640x480) differs from the "
                                        "one pruduct image (800x600). Filter can not be generated.";
    QTest::newRow("unreadable product")
        << "broken"
        << "WARNING: source image size (640x480) differs from the one pruduct image (0x0). "
           "Filter can not be generated.";
}

void TestMainWidget::targetLoadRepeatsSizeWarning()
{
    QFETCH(QString, product);
    QFETCH(QString, expectedMessage);

    click("loadSourceButton", imageFile("source.png", "640x480"));
    click("loadProductButton", imageFile("product.png", product));
    click("selectTargetButton", imageFile("target.png", "20x20"));
    QCOMPARE(message(), expectedMessage);
    QVERIFY(enabledCommands().isEmpty());
}

void TestMainWidget::unreadableTargetCannotBeFiltered()
{
    prepareResult();
    click("selectTargetButton", imageFile("target.png", "broken"));
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load target.png image."));
    QCOMPARE(enabledCommands(),
             QStringList({ "generateFilterButton", "saveFilterButton", "saveResultButton" }));

    click("selectTargetButton", imageFile("other.png", "20x20"));
    QCOMPARE(enabledCommands(), CommandButtons);
}

void TestMainWidget::cancelledImageLoadChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("load source") << "loadSourceButton";
    QTest::newRow("load product") << "loadProductButton";
    QTest::newRow("select target") << "selectTargetButton";
}

void TestMainWidget::cancelledImageLoadChangesNothing()
{
    QFETCH(QString, button);

    prepareResult();
    QMap<QString, qint64> pictures;
    for (const char *name : { "filterSourceIcon", "filterProductIcon", "targetIcon", "resultIcon" })
        pictures.insert(name, preview(name).cacheKey());
    const QStringList commands = enabledCommands();

    cancel(button);
    QCOMPARE(message(), QStringLiteral("Filter applied."));
    QCOMPARE(enabledCommands(), commands);
    for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
        QVERIFY2(preview(it.key()).cacheKey() == it.value(), qPrintable(it.key()));
    QCOMPARE(nextDialogDir(), m_dir->path());
}

void TestMainWidget::previews_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QSize>("previewSize");

    QTest::newRow("landscape") << "640x480" << QSize(200, 150);
    QTest::newRow("portrait") << "480x640" << QSize(150, 200);
    QTest::newRow("small is enlarged") << "100x50" << QSize(200, 100);
    QTest::newRow("square") << "200x200" << QSize(200, 200);
}

void TestMainWidget::previews()
{
    QFETCH(QString, image);
    QFETCH(QSize, previewSize);

    click("loadSourceButton", imageFile("a.png", image));
    click("loadProductButton", imageFile("b.png", image));
    click("selectTargetButton", imageFile("c.png", image));
    QCOMPARE(preview("filterSourceIcon").size(), previewSize);
    QCOMPARE(preview("filterProductIcon").size(), previewSize);
    QCOMPARE(preview("targetIcon").size(), previewSize);
    click("generateFilterButton");
    click("applyFilterButton");
    QCOMPARE(preview("resultIcon").size(), previewSize);
}

void TestMainWidget::newTargetKeepsResult()
{
    prepareResult();
    const qint64 result = preview("resultIcon").cacheKey();
    click("selectTargetButton", imageFile("other.png", "10x10"));
    QCOMPARE(enabledCommands(), CommandButtons);
    QVERIFY(message().isEmpty());
    QCOMPARE(preview("resultIcon").cacheKey(), result);
    QCOMPARE(preview("targetIcon").size(), QSize(200, 200));
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
}

void TestMainWidget::generateTwice()
{
    click("loadSourceButton", imageFile("source.png", "16x16"));
    click("loadProductButton", imageFile("product.png", "16x16", 3));
    click("generateFilterButton");
    const QString first = message();

    const QString source = imageFile("source2.png", "4x4");
    const QString product = imageFile("product2.png", "4x4", 90);
    click("loadSourceButton", source);
    click("loadProductButton", product);
    click("generateFilterButton");
    const auto expected = CurvesFilter::generate(QImage(source), QImage(product));
    QCOMPARE(message(), FilterMessages::generationMessage(*expected));
    QVERIFY2(message() != first, qPrintable(first));
}

void TestMainWidget::saveAndLoadFilter()
{
    prepareResult();
    const qint64 result = preview("resultIcon").cacheKey();

    click("saveFilterButton", path("warm.cml"));
    QCOMPARE(message(), QStringLiteral("Filter warm.cml saved."));
    QVERIFY(QFile::exists(path("warm.cml")));
    QVERIFY(!QFile::exists(path("warm.cml.cml")));

    click("loadFilterButton", path("warm.cml"));
    QCOMPARE(message(), QStringLiteral("Filter warm.cml loaded."));
    QCOMPARE(enabledCommands(), CommandButtons);
    QCOMPARE(preview("resultIcon").cacheKey(), result);
}

void TestMainWidget::failedFilterLoad_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("not a filter file") << QByteArray("just some text\n");
    QTest::newRow("other filter type") << QByteArray("[General]\nFilterType=2\n");
    QTest::newRow("missing file") << QByteArray();
}

void TestMainWidget::failedFilterLoad()
{
    QFETCH(QByteArray, contents);

    prepareResult();
    QVERIFY(QDir(m_dir->path()).mkdir("filters"));
    const QString file = path("filters/junk.cml");
    if (!contents.isEmpty()) {
        QFile junk(file);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(contents);
    }

    click("loadFilterButton", file);
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to load junk.cml filter."));
    QCOMPARE(enabledCommands(), QStringList({ "generateFilterButton", "saveResultButton" }));
    QCOMPARE(nextDialogDir(), path("filters"));
}

void TestMainWidget::cancelledFilterDialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("expectedMessage");
    QTest::newRow("save") << "saveFilterButton"
                          << "WARNING: Failed to save  filter.";
    QTest::newRow("load") << "loadFilterButton"
                          << "WARNING: Failed to load  filter.";
}

void TestMainWidget::cancelledFilterDialogs()
{
    QFETCH(QString, button);
    QFETCH(QString, expectedMessage);

    prepareResult();
    cancel(button);
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), CommandButtons);
    QCOMPARE(nextDialogDir(), m_dir->path());
}

void TestMainWidget::lastPathMovesOnFailedSave()
{
    prepareResult();
    const QString missing = path("no/such/dir");
    click("saveFilterButton", missing + QStringLiteral("/warm.cml"));
    QCOMPARE(message(), QStringLiteral("WARNING: Failed to save warm.cml filter."));
    QCOMPARE(enabledCommands(), CommandButtons);

    m_window->calls.clear();
    for (const char *button : { "loadSourceButton", "loadProductButton", "selectTargetButton",
                                "saveResultButton", "saveFilterButton", "loadFilterButton" })
        cancel(button);
    QCOMPARE(m_window->calls.size(), 6);
    for (const DialogCall &call : std::as_const(m_window->calls))
        QVERIFY2(call.dir == missing, qPrintable(call.caption + QStringLiteral(": ") + call.dir));
}

void TestMainWidget::apply()
{
    click("loadSourceButton", imageFile("source.png", "8x8"));
    click("loadProductButton", imageFile("product.png", "8x8", 5));
    click("generateFilterButton");
    click("selectTargetButton", imageFile("target.png", "40x10", 2));
    QVERIFY(preview("resultIcon").isNull());

    click("applyFilterButton");
    QCOMPARE(message(), QStringLiteral("Filter applied."));
    QCOMPARE(preview("resultIcon").size(), QSize(200, 50));
    QCOMPARE(enabledCommands(), CommandButtons);

    const qint64 first = preview("resultIcon").cacheKey();
    click("applyFilterButton");
    QVERIFY(preview("resultIcon").cacheKey() != first);
}

void TestMainWidget::saveResult_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expectedMessage");
    QTest::addColumn<bool>("written");

    QTest::newRow("png") << "out.png"
                         << "Image out.png saved." << true;
    QTest::newRow("bmp") << "out.bmp"
                         << "Image out.bmp saved." << true;
    QTest::newRow("unknown suffix") << "out.xyz"
                                    << "WARNING: Failed to save out.xyz image." << false;
    QTest::newRow("missing directory") << "gone/out.png"
                                       << "WARNING: Failed to save out.png image." << false;
    QTest::newRow("cancelled") << ""
                               << "WARNING: Failed to save  image." << false;
}

void TestMainWidget::saveResult()
{
    QFETCH(QString, name);
    QFETCH(QString, expectedMessage);
    QFETCH(bool, written);

    prepareResult();
    const QString file = name.isEmpty() ? QString() : path(name);
    if (file.isEmpty())
        cancel("saveResultButton");
    else
        click("saveResultButton", file);
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), CommandButtons);
    if (written) {
        const QImage saved(file);
        QCOMPARE(saved.size(), QSize(30, 20));
    } else if (!file.isEmpty()) {
        QVERIFY(!QFile::exists(file));
    }
    QCOMPARE(nextDialogDir(), file.isEmpty() ? m_dir->path() : QFileInfo(file).path());
}

void TestMainWidget::outOfMemory_data()
{
    QTest::addColumn<bool>("duringGenerate");
    QTest::addColumn<QString>("expectedMessage");
    QTest::addColumn<QStringList>("expectedCommands");

    // Either way nothing half-made stays behind: the old filter or result is gone too.
    QTest::newRow("generate") << true << "WARNING: Not enough memory to generate the filter."
                              << QStringList({ "generateFilterButton", "saveResultButton" });
    QTest::newRow("apply") << false << "WARNING: Not enough memory to apply the filter."
                           << QStringList({ "generateFilterButton", "saveFilterButton",
                                            "applyFilterButton" });
}

void TestMainWidget::outOfMemory()
{
    QFETCH(bool, duringGenerate);
    QFETCH(QString, expectedMessage);
    QFETCH(QStringList, expectedCommands);

    prepareResult();
    m_window->generateThrows = duringGenerate;
    m_window->applyThrows = !duringGenerate;
    click(duringGenerate ? "generateFilterButton" : "applyFilterButton");
    QCOMPARE(message(), expectedMessage);
    QCOMPARE(enabledCommands(), expectedCommands);
    QCOMPARE(preview("resultIcon").isNull(), !duringGenerate);

    // The window goes on working once memory is there again.
    m_window->generateThrows = m_window->applyThrows = false;
    click("generateFilterButton");
    click("applyFilterButton");
    QCOMPARE(message(), QStringLiteral("Filter applied."));
    QCOMPARE(enabledCommands(), CommandButtons);
}

void TestMainWidget::workRunsUnderWaitCursor()
{
    prepareResult();
    QCOMPARE(m_window->workCursors, QList<Qt::CursorShape>({ Qt::WaitCursor, Qt::WaitCursor }));
    m_window->generateThrows = true;
    click("generateFilterButton");
    QCOMPARE(m_window->workCursors.last(), Qt::WaitCursor);
    // cleanup() checks that no dialog opened under it and that it is gone again.
}

void TestMainWidget::endToEnd()
{
    const QString source = imageFile("source.png", "64x48");
    const QString product = imageFile("product.png", "64x48", 77);
    const QString target = imageFile("target.png", "50x30", 12);

    click("loadSourceButton", source);
    click("loadProductButton", product);
    click("generateFilterButton");
    QVERIFY(message().startsWith(QStringLiteral("Filter generation successful.")));
    click("saveFilterButton", path("learnt.cml"));
    click("selectTargetButton", target);
    click("applyFilterButton");
    click("saveResultButton", path("result.png"));
    QCOMPARE(message(), QStringLiteral("Image result.png saved."));

    const auto filter = CurvesFilter::generate(QImage(source), QImage(product));
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
