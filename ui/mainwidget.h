#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include "photometadata.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CurvesFilter;
class QImage;
class QLabel;
class Ui_MainWidget;

// The one window: learns a filter from a source/product pair, saves and loads filters,
// applies the filter to a target image and saves the result.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // What the load buttons do once their dialog has returned a name; an empty name is a
    // cancelled dialog. Dropped files and the files the program is started with come in
    // here too.
    void loadSource(const QString &fileName);
    void loadProduct(const QString &fileName);
    void loadTarget(const QString &fileName);
    void loadFilter(const QString &fileName);

protected:
    void changeEvent(QEvent *event) override;

    // Every file name is asked for through these two; they show Qt's file dialogs.
    virtual QString openFileName(const QString &caption, const QString &dir, const QString &filter);
    virtual QString saveFileName(const QString &caption, const QString &dir, const QString &filter);

    // The memory-hungry work of the generate and apply commands; both may throw
    // std::bad_alloc, which the commands report.
    virtual std::unique_ptr<CurvesFilter> generateFilter(const QImage &source,
                                                         const QImage &product);
    virtual QImage applyFilter(const CurvesFilter &filter, const QImage &image);

private slots:
    void on_applyFilterButton_clicked();
    void on_generateFilterButton_clicked();
    void on_saveResultButton_clicked();
    void on_saveFilterButton_clicked();
    void on_selectTargetButton_clicked();
    void on_loadFilterButton_clicked();
    void on_loadProductButton_clicked();
    void on_loadSourceButton_clicked();

private:
    void updateControls();
    // Every message goes through here, so the message line's tooltip always shows it whole.
    void setMessage(const QString &message);
    // Reads the image and, when asked for, its metadata.
    void loadImage(const QString &fileName, std::unique_ptr<QImage> &image, QLabel *preview,
                   PhotoMetadata *metadata = nullptr);
    void addShortcuts();
    void addDropTargets();
    // The two save commands: ask for a name, move lastPath, write, and report
    // kind + name + " saved." or "WARNING: Failed to save " + name + what.
    void saveAs(const QString &caption, const QString &fileFilter, const QString &kind,
                const QString &what, const std::function<bool(const QString &)> &write);
    bool saveResult(const QString &fileName) const;
    void rememberDirectory(const QString &fileName);
    static void showPreview(QLabel *label, const QImage &image);

    std::unique_ptr<Ui_MainWidget> ui;
    std::unique_ptr<QImage> sourceImage;
    std::unique_ptr<QImage> productImage;
    std::unique_ptr<QImage> targetImage;
    std::unique_ptr<QImage> resultImage;
    QString lastPath;
    std::unique_ptr<CurvesFilter> filter;
    // The target's metadata, and that of the one the result was made from.
    PhotoMetadata targetMetadata;
    PhotoMetadata resultMetadata;
};

#endif // MAINWIDGET_H
