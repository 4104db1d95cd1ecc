#include "mainwidget.h"
#include "ui_mainwidget.h"

#include "curvesfilter.h"
#include "droptarget.h"
#include "durablefile.h"
#include "filterfile.h"
#include "filtermessages.h"
#include "imagefile.h"
#include "imagefiletypes.h"
#include "photometadata.h"
#include "resultphoto.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeySequence>
#include <QPixmap>
#include <QShortcut>
#include <QTextDocument>

#include <new>
#include <utility>

namespace {

const QString ImageFileFilter = ImageFileTypes::commandFilter();
const QString FilterFileFilter = QStringLiteral("Chromaloom filters (*.cml)");

// Shows the wait cursor for as long as it lives, whichever way the scope is left.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    Q_DISABLE_COPY_MOVE(WaitCursor)
};

} // namespace

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui_MainWidget>())
    , lastPath(QStringLiteral("."))
{
    ui->setupUi(this);
    // File names are shown as they are, never as markup; the line can be copied from.
    ui->messageLabel->setTextFormat(Qt::PlainText);
    ui->messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addShortcuts();
    addDropTargets();
}

MainWidget::~MainWidget() = default;

void MainWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        setMessage(ui->messageLabel->text());
    }
}

QString MainWidget::openFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(
        nullptr, caption, dir, filter == ImageFileFilter ? ImageFileTypes::openFilter() : filter);
}

QString MainWidget::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(
        nullptr, caption, dir, filter == ImageFileFilter ? ImageFileTypes::saveFilter() : filter);
}

std::unique_ptr<CurvesFilter> MainWidget::generateFilter(const QImage &source,
                                                         const QImage &product)
{
    return CurvesFilter::generate(source, product);
}

QImage MainWidget::applyFilter(const CurvesFilter &filter, const QImage &image)
{
    return filter.apply(image);
}

void MainWidget::on_applyFilterButton_clicked()
{
    bool outOfMemory = false;
    {
        const WaitCursor wait;
        resultImage.reset();
        try {
            resultImage = std::make_unique<QImage>(applyFilter(*filter, *targetImage));
            // The result keeps the metadata of the photo it was made from.
            resultMetadata = targetMetadata;
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        }
        showPreview(ui->resultIcon, resultImage ? *resultImage : QImage());
    }
    updateControls();
    setMessage(outOfMemory ? QStringLiteral("WARNING: Not enough memory to apply the filter.")
                           : QStringLiteral("Filter applied."));
}

void MainWidget::on_generateFilterButton_clicked()
{
    bool outOfMemory = false;
    {
        const WaitCursor wait;
        // The old filter goes first: its samples may be what the new one needs room for.
        filter.reset();
        try {
            filter = generateFilter(*sourceImage, *productImage);
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        }
    }
    updateControls();
    setMessage(outOfMemory ? QStringLiteral("WARNING: Not enough memory to generate the filter.")
                           : FilterMessages::generationMessage(*filter));
}

void MainWidget::on_saveResultButton_clicked()
{
    saveAs(QStringLiteral("Save resulting image as"), ImageFileFilter, QStringLiteral("Image "),
           QStringLiteral(" image."),
           [this](const QString &fileName) { return saveResult(fileName); });
}

void MainWidget::on_saveFilterButton_clicked()
{
    saveAs(QStringLiteral("Save filter as"), FilterFileFilter, QStringLiteral("Filter "),
           QStringLiteral(" filter."),
           [this](const QString &fileName) { return FilterFile::save(*filter, fileName); });
}

void MainWidget::on_selectTargetButton_clicked()
{
    loadTarget(openFileName(QStringLiteral("Select target image file"), lastPath, ImageFileFilter));
}

void MainWidget::on_loadFilterButton_clicked()
{
    loadFilter(openFileName(QStringLiteral("Select filter to load"), lastPath, FilterFileFilter));
}

void MainWidget::on_loadProductButton_clicked()
{
    loadProduct(
        openFileName(QStringLiteral("Select product image file"), lastPath, ImageFileFilter));
}

void MainWidget::on_loadSourceButton_clicked()
{
    loadSource(openFileName(QStringLiteral("Select source image file"), lastPath, ImageFileFilter));
}

void MainWidget::loadSource(const QString &fileName)
{
    loadImage(fileName, sourceImage, ui->filterSourceIcon);
}

void MainWidget::loadProduct(const QString &fileName)
{
    loadImage(fileName, productImage, ui->filterProductIcon);
}

void MainWidget::loadTarget(const QString &fileName)
{
    loadImage(fileName, targetImage, ui->targetIcon, &targetMetadata);
}

void MainWidget::loadFilter(const QString &fileName)
{
    if (fileName.isEmpty()) {
        setMessage(QStringLiteral("WARNING: Failed to load ") + QStringLiteral(" filter."));
        return;
    }
    rememberDirectory(fileName);

    {
        const WaitCursor wait;
        filter.reset();
        filter = FilterFile::loadCurves(fileName);
    }
    updateControls();
    const QString name = QFileInfo(fileName).fileName();
    setMessage(filter ? QStringLiteral("Filter ") + name + QStringLiteral(" loaded.")
                      : QStringLiteral("WARNING: Failed to load ") + name
                       + QStringLiteral(" filter."));
}

void MainWidget::updateControls()
{
    setMessage(QString());

    bool pairReady = false;
    if (sourceImage && productImage) {
        if (sourceImage->size() == productImage->size())
            pairReady = !sourceImage->isNull() && !productImage->isNull();
        else
            setMessage(FilterMessages::sizeWarning(sourceImage->size(), productImage->size()));
    }
    ui->generateFilterButton->setEnabled(pairReady);
    ui->saveFilterButton->setEnabled(filter != nullptr);
    // An unreadable target has nothing to apply the filter to.
    ui->applyFilterButton->setEnabled(filter && targetImage && !targetImage->isNull());
    ui->saveResultButton->setEnabled(resultImage != nullptr);
}

void MainWidget::setMessage(const QString &message)
{
    ui->messageLabel->setText(message);
    // The line is cut off at its edge; the tooltip shows all of it. A tooltip that looks
    // like markup would be read as markup, so such a message is escaped to show as it is.
    ui->messageLabel->setToolTip(Qt::mightBeRichText(message)
                                     ? QStringLiteral("<p style=\"white-space:pre\">")
                                         + message.toHtmlEscaped() + QStringLiteral("</p>")
                                     : message);
}

void MainWidget::addShortcuts()
{
    // A key does what a click on its button does, so it does nothing while the button is
    // disabled. The buttons keep their texts and name their key in their tooltips.
    const std::pair<QPushButton *, QKeySequence> keys[] = {
        { ui->loadSourceButton, QKeySequence(Qt::CTRL | Qt::Key_1) },
        { ui->loadProductButton, QKeySequence(Qt::CTRL | Qt::Key_2) },
        { ui->generateFilterButton, QKeySequence(Qt::CTRL | Qt::Key_G) },
        { ui->saveFilterButton, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) },
        { ui->loadFilterButton, QKeySequence(Qt::CTRL | Qt::Key_L) },
        { ui->selectTargetButton, QKeySequence(Qt::CTRL | Qt::Key_O) },
        { ui->applyFilterButton, QKeySequence(Qt::CTRL | Qt::Key_Return) },
        { ui->saveResultButton, QKeySequence(Qt::CTRL | Qt::Key_S) },
    };
    for (const auto &[button, key] : keys) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
        button->setToolTip(key.toString(QKeySequence::NativeText));
    }
}

void MainWidget::addDropTargets()
{
    // An image dropped on a preview loads there as its button would load it; a filter file
    // dropped on the filter column loads as "Load filter..." does.
    const auto isFilterFile = [](const QString &path) {
        const QFileInfo file(path);
        return file.isFile()
            && file.suffix().compare(QLatin1String("cml"), Qt::CaseInsensitive) == 0;
    };
    new DropTarget(ui->filterSourceIcon, ImageFileTypes::isOpenable,
                   [this](const QString &path) { loadSource(path); });
    new DropTarget(ui->filterProductIcon, ImageFileTypes::isOpenable,
                   [this](const QString &path) { loadProduct(path); });
    new DropTarget(ui->targetIcon, ImageFileTypes::isOpenable,
                   [this](const QString &path) { loadTarget(path); });
    // The column has no widget of its own: its box takes the drag wherever the column's
    // widgets (which take no drops themselves) leave it to the box.
    const QRect column = ui->label_5->geometry() | ui->groupBox_2->geometry()
        | ui->checkBoxAlign->geometry() | ui->generateFilterButton->geometry()
        | ui->saveFilterButton->geometry() | ui->loadFilterButton->geometry();
    new DropTarget(
        ui->groupBox, isFilterFile, [this](const QString &path) { loadFilter(path); }, column);
}

void MainWidget::loadImage(const QString &fileName, std::unique_ptr<QImage> &image, QLabel *preview,
                           PhotoMetadata *metadata)
{
    if (fileName.isEmpty())
        return;
    rememberDirectory(fileName);

    {
        const WaitCursor wait;
        image.reset();
        // The metadata comes from the bytes the pixels were decoded from.
        const ImageFile file = ImageFile::read(fileName);
        image = std::make_unique<QImage>(file.image());
        if (metadata)
            *metadata = file.metadata();
        showPreview(preview, *image);
    }
    updateControls();
    if (image->isNull())
        setMessage(QStringLiteral("WARNING: Failed to load ") + QFileInfo(fileName).fileName()
                   + QStringLiteral(" image."));
}

void MainWidget::saveAs(const QString &caption, const QString &fileFilter, const QString &kind,
                        const QString &what, const std::function<bool(const QString &)> &write)
{
    const QString fileName = saveFileName(caption, lastPath, fileFilter);
    if (fileName.isEmpty()) {
        setMessage(QStringLiteral("WARNING: Failed to save ") + what);
        return;
    }
    rememberDirectory(fileName);

    bool saved = false;
    {
        const WaitCursor wait;
        saved = write(fileName);
    }
    const QString name = QFileInfo(fileName).fileName();
    setMessage(saved ? kind + name + QStringLiteral(" saved.")
                     : QStringLiteral("WARNING: Failed to save ") + name + what);
}

bool MainWidget::saveResult(const QString &fileName) const
{
    // The highest quality for the lossy formats, the type from the name's suffix.
    return ResultPhoto::write(fileName, *resultImage, QByteArray(), 100, resultMetadata,
                              DurableFile::Mode::Replace)
        .outcome.ok();
}

void MainWidget::rememberDirectory(const QString &fileName)
{
    lastPath = QFileInfo(fileName).path();
}

void MainWidget::showPreview(QLabel *label, const QImage &image)
{
    if (image.isNull()) {
        label->setPixmap(QPixmap());
        return;
    }
    label->setPixmap(
        QPixmap::fromImage(image.scaled(200, 200, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}
