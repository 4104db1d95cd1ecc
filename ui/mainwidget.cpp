#include "mainwidget.h"
#include "ui_mainwidget.h"

#include "curvesfilter.h"
#include "durablefile.h"
#include "filtermessages.h"
#include "imagefile.h"
#include "photometadata.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>

#include <new>

namespace {

const QString ImageFileFilter = QStringLiteral(
    "Image files (*.bmp *.gif *.jpg *.jpeg *.png *.pbm *.pgm *.ppm *.tif *.tiff *.xbm *.xpm)");
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
}

MainWidget::~MainWidget() = default;

void MainWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

QString MainWidget::openFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(nullptr, caption, dir, filter);
}

QString MainWidget::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(nullptr, caption, dir, filter);
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
            resultMetadata = PhotoMetadata::read(targetPath);
        } catch (const std::bad_alloc &) {
            outOfMemory = true;
        }
        showPreview(ui->resultIcon, resultImage ? *resultImage : QImage());
    }
    updateControls();
    ui->messageLabel->setText(
        outOfMemory ? QStringLiteral("WARNING: Not enough memory to apply the filter.")
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
    ui->messageLabel->setText(
        outOfMemory ? QStringLiteral("WARNING: Not enough memory to generate the filter.")
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
           [this](const QString &fileName) { return filter->save(fileName); });
}

void MainWidget::on_selectTargetButton_clicked()
{
    const QString fileName
        = loadImage(QStringLiteral("Select target image file"), targetImage, ui->targetIcon);
    if (!fileName.isEmpty())
        targetPath = fileName;
}

void MainWidget::on_loadFilterButton_clicked()
{
    const QString fileName
        = openFileName(QStringLiteral("Select filter to load"), lastPath, FilterFileFilter);
    if (fileName.isEmpty()) {
        ui->messageLabel->setText(QStringLiteral("WARNING: Failed to load ")
                                  + QStringLiteral(" filter."));
        return;
    }
    rememberDirectory(fileName);

    {
        const WaitCursor wait;
        filter.reset();
        filter = CurvesFilter::load(fileName);
    }
    updateControls();
    const QString name = QFileInfo(fileName).fileName();
    ui->messageLabel->setText(filter ? QStringLiteral("Filter ") + name + QStringLiteral(" loaded.")
                                     : QStringLiteral("WARNING: Failed to load ") + name
                                      + QStringLiteral(" filter."));
}

void MainWidget::on_loadProductButton_clicked()
{
    loadImage(QStringLiteral("Select product image file"), productImage, ui->filterProductIcon);
}

void MainWidget::on_loadSourceButton_clicked()
{
    loadImage(QStringLiteral("Select source image file"), sourceImage, ui->filterSourceIcon);
}

void MainWidget::updateControls()
{
    ui->messageLabel->setText(QString());

    bool pairReady = false;
    if (sourceImage && productImage) {
        if (sourceImage->size() == productImage->size())
            pairReady = !sourceImage->isNull() && !productImage->isNull();
        else
            ui->messageLabel->setText(
                FilterMessages::sizeWarning(sourceImage->size(), productImage->size()));
    }
    ui->generateFilterButton->setEnabled(pairReady);
    ui->saveFilterButton->setEnabled(filter != nullptr);
    // An unreadable target has nothing to apply the filter to.
    ui->applyFilterButton->setEnabled(filter && targetImage && !targetImage->isNull());
    ui->saveResultButton->setEnabled(resultImage != nullptr);
}

QString MainWidget::loadImage(const QString &caption, std::unique_ptr<QImage> &image,
                              QLabel *preview)
{
    const QString fileName = openFileName(caption, lastPath, ImageFileFilter);
    if (fileName.isEmpty())
        return fileName;
    rememberDirectory(fileName);

    {
        const WaitCursor wait;
        image.reset();
        image = std::make_unique<QImage>(ImageFile::read(fileName).image());
        showPreview(preview, *image);
    }
    updateControls();
    if (image->isNull())
        ui->messageLabel->setText(QStringLiteral("WARNING: Failed to load ")
                                  + QFileInfo(fileName).fileName() + QStringLiteral(" image."));
    return fileName;
}

void MainWidget::saveAs(const QString &caption, const QString &fileFilter, const QString &kind,
                        const QString &what, const std::function<bool(const QString &)> &write)
{
    const QString fileName = saveFileName(caption, lastPath, fileFilter);
    if (fileName.isEmpty()) {
        ui->messageLabel->setText(QStringLiteral("WARNING: Failed to save ") + what);
        return;
    }
    rememberDirectory(fileName);

    bool saved = false;
    {
        const WaitCursor wait;
        saved = write(fileName);
    }
    const QString name = QFileInfo(fileName).fileName();
    ui->messageLabel->setText(saved ? kind + name + QStringLiteral(" saved.")
                                    : QStringLiteral("WARNING: Failed to save ") + name + what);
}

bool MainWidget::saveResult(const QString &fileName) const
{
    // Encoded in memory first, so a name without an image type, a failed encoder or a full
    // disk leaves whatever file had the name as it was.
    const QByteArray format = ImageFile::formatForFileName(fileName);
    if (format.isEmpty())
        return false;
    const QByteArray encoded = ImageFile::encode(*resultImage, format, 100);
    return !encoded.isEmpty()
        && DurableFile::write(fileName, resultMetadata.embedInto(encoded))
        == DurableFile::Result::Written;
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
