#include "photometadata.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

#include <exiv2/exiv2.hpp>

#include <thread>
#include <vector>

namespace {

// A picture whose every quarter differs, so a turn or a mirror shows, in Adobe RGB so that
// the encoders embed an ICC profile.
QImage testImage()
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x < 32) == (y < 24) ? 40 : 220));
    }
    image.setColorSpace(QColorSpace::AdobeRgb);
    return image;
}

QByteArray encode(const QImage &image, const QByteArray &format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(100);
    return writer.write(image) ? bytes : QByteArray();
}

QImage decode(const QByteArray &bytes, bool autoTransform = false)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(autoTransform);
    return reader.read();
}

QByteArray readBack(Exiv2::Image &image)
{
    Exiv2::BasicIo &io = image.io();
    io.open();
    QByteArray bytes(qsizetype(io.size()), Qt::Uninitialized);
    io.read(reinterpret_cast<Exiv2::byte *>(bytes.data()), long(bytes.size()));
    io.close();
    return bytes;
}

// The encoded image with what a camera and a photo library write: EXIF with a thumbnail,
// IPTC where the format holds it, XMP.
QByteArray tagged(const QByteArray &encoded, int orientation)
{
    const auto *bytes = reinterpret_cast<const Exiv2::byte *>(encoded.constData());
    const std::unique_ptr<Exiv2::Image> image(
        Exiv2::ImageFactory::open(bytes, long(encoded.size())).release());
    image->readMetadata();
    Exiv2::ExifData &exif = image->exifData();
    exif["Exif.Image.Make"] = "Loomcam";
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    exif["Exif.Photo.DateTimeOriginal"] = "2026:05:17 10:42:07";
    exif["Exif.Photo.PixelXDimension"] = std::uint32_t(999);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "38/1 42/1 3120/100";
    const QByteArray thumbnail = encode(QImage(16, 12, QImage::Format_RGB32), "jpeg");
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()), long(thumbnail.size()));
    if (image->checkMode(Exiv2::mdIptc) & Exiv2::amWrite)
        image->iptcData()["Iptc.Application2.City"] = "Lisbon";
    image->xmpData()["Xmp.photoshop.City"] = "Lisbon";
    image->xmpData()["Xmp.tiff.Orientation"] = std::to_string(orientation);
    image->writeMetadata();
    return readBack(*image);
}

// Qt 6.4 drops the colour space when it turns an image (QImage::transformed), so this
// compares the pixels only.
bool samePixels(QImage a, QImage b)
{
    a.setColorSpace(QColorSpace());
    b.setColorSpace(QColorSpace());
    return a == b;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// A JPEG whose first segment is an APP1 block with the given contents.
QByteArray withApp1Segment(const QByteArray &jpeg, const QByteArray &payload)
{
    const int length = int(payload.size()) + 2;
    return jpeg.left(2) + "\xff\xe1" + char(length >> 8) + char(length & 0xff) + payload
        + jpeg.mid(2);
}

} // namespace

class TestPhotoMetadata : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void embed_data();
    void embed();
    void orientation_data();
    void orientation();
    void corruptMetadata_data();
    void corruptMetadata();
    void noMetadata_data();
    void noMetadata();
    void concurrentUse();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPhotoMetadata::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), "temporary directory");
}

void TestPhotoMetadata::cleanup() { m_dir.reset(); }

void TestPhotoMetadata::embed_data()
{
    QTest::addColumn<QByteArray>("targetFormat");
    QTest::addColumn<QByteArray>("resultFormat");
    QTest::addColumn<bool>("iptc");

    QTest::newRow("jpeg into jpeg") << QByteArray("jpeg") << QByteArray("jpeg") << true;
    QTest::newRow("jpeg into png") << QByteArray("jpeg") << QByteArray("png") << true;
    QTest::newRow("jpeg into tiff") << QByteArray("jpeg") << QByteArray("tiff") << true;
    QTest::newRow("jpeg into webp (no IPTC)") << QByteArray("jpeg") << QByteArray("webp") << false;
    QTest::newRow("png into jpeg") << QByteArray("png") << QByteArray("jpeg") << true;
    QTest::newRow("tiff into tiff") << QByteArray("tiff") << QByteArray("tiff") << true;
    QTest::newRow("tiff into png") << QByteArray("tiff") << QByteArray("png") << true;
    QTest::newRow("webp into jpeg") << QByteArray("webp") << QByteArray("jpeg") << false;
}

void TestPhotoMetadata::embed()
{
    QFETCH(QByteArray, targetFormat);
    QFETCH(QByteArray, resultFormat);
    QFETCH(bool, iptc);
    for (const QByteArray &format : { targetFormat, resultFormat }) {
        if (!QImageWriter::supportedImageFormats().contains(format))
            QSKIP(qPrintable("Qt cannot write " + format));
    }

    const QString path = m_dir->filePath(QStringLiteral("target.") + targetFormat);
    // The target's own profile differs, so one carried along with its EXIF would show.
    QImage target = testImage();
    target.setColorSpace(QColorSpace::DisplayP3);
    QVERIFY2(writeFile(path, tagged(encode(target, targetFormat), 6)), "writing the target");
    QString warning = QStringLiteral("stale");
    const PhotoMetadata metadata = PhotoMetadata::read(path, &warning);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));
    QVERIFY2(metadata.value(QStringLiteral("Exif.Image.Make")) == QLatin1String("Loomcam"),
             "the target's metadata was not read");
    QVERIFY2(metadata.value(QStringLiteral("Exif.Image.InterColorProfile")).isNull(),
             "the target's colour profile was taken for metadata");

    const QByteArray plain = encode(testImage(), resultFormat);
    const QByteArray result = metadata.embedInto(plain, &warning);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));

    const PhotoMetadata written = PhotoMetadata::fromBytes(result, &warning);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));
    const QList<QPair<QString, QString>> expected = {
        { "Exif.Image.Make", "Loomcam" },
        { "Exif.Photo.DateTimeOriginal", "2026:05:17 10:42:07" },
        { "Exif.GPSInfo.GPSLatitudeRef", "N" },
        { "Exif.GPSInfo.GPSLatitude", "38/1 42/1 3120/100" },
        { "Exif.Image.Orientation", "1" },
        { "Exif.Photo.PixelXDimension", "64" },
        { "Exif.Thumbnail.JPEGInterchangeFormat", QString() },
        { "Exif.Image.Compression", QString() }, // the TIFF target's, not the result's
        { "Iptc.Application2.City", iptc ? "Lisbon" : QString() },
        { "Xmp.photoshop.City", "Lisbon" },
        { "Xmp.tiff.Orientation", "1" },
    };
    for (const auto &[key, value] : expected) {
        const QString actual = written.value(key);
        QVERIFY2(actual == value, qPrintable(key + ": " + actual));
    }

    const QImage plainImage = decode(plain);
    const QImage resultImage = decode(result);
    QVERIFY2(!plainImage.colorSpace().iccProfile().isEmpty(), "the encoder embedded no profile");
    QVERIFY2(resultImage.colorSpace().iccProfile() == plainImage.colorSpace().iccProfile(),
             "the ICC profile changed");
    QVERIFY2(resultImage == plainImage, "the pixels changed");
}

void TestPhotoMetadata::orientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("clockwise");

    QTest::newRow("6: turn right") << 6 << 90;
    QTest::newRow("8: turn left") << 8 << 270;
    QTest::newRow("3: upside down") << 3 << 180;
}

void TestPhotoMetadata::orientation()
{
    QFETCH(int, orientation);
    QFETCH(int, clockwise);

    const QByteArray file = tagged(encode(testImage(), "jpeg"), orientation);
    const QImage stored = decode(file);
    const QImage upright = decode(file, true);
    QVERIFY2(samePixels(upright, stored.transformed(QTransform().rotate(clockwise))),
             "the reader did not turn the pixels upright");

    // The result holds upright pixels: read with orientation applied it must not turn again.
    const QByteArray plain = encode(upright, "jpeg");
    QString warning;
    const QByteArray result = PhotoMetadata::fromBytes(file).embedInto(plain, &warning);
    QVERIFY2(warning.isEmpty(), qPrintable(warning));
    QVERIFY2(samePixels(decode(result, true), decode(plain)), "the result is not shown upright");
}

void TestPhotoMetadata::corruptMetadata_data()
{
    QTest::addColumn<QByteArray>("segment");

    const QByteArray exif("Exif\0\0", 6);
    QTest::newRow("garbage TIFF header") << exif + QByteArray("XY*\0\x08\0\0\0garbagegarbage", 22);
    QTest::newRow("IFD offset past the end")
        << exif + QByteArray("II*\0\xf0\xff\xff\x0f\0\0\0\0\0\0", 14);
    QTest::newRow("IFD entries past the end")
        << exif + QByteArray("II*\0\x08\0\0\0\xff\xff\x0f\x01\x02\0", 14);
    QTest::newRow("truncated TIFF header") << exif + QByteArray("MM\0", 3);
    QTest::newRow("XMP that is not XML")
        << QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta><rdf:RDF><oops", 54);
}

void TestPhotoMetadata::corruptMetadata()
{
    QFETCH(QByteArray, segment);

    // The damaged block comes first, so Exiv2 takes it and ignores the sound one after it.
    const QByteArray plain = encode(testImage(), "jpeg");
    const QByteArray corrupt = withApp1Segment(tagged(plain, 1), segment);
    QVERIFY2(!decode(corrupt).isNull(), "the corrupt file's pixels cannot be read");
    const QString path = m_dir->filePath(QStringLiteral("corrupt.jpg"));
    QVERIFY2(writeFile(path, corrupt), "writing the file");

    QString warning;
    const PhotoMetadata metadata = PhotoMetadata::read(path, &warning);
    QVERIFY2(warning.startsWith(QLatin1String("cannot read the photo's metadata: "))
                 && !warning.contains(QLatin1Char('\n')),
             qPrintable("warning: " + warning));
    QVERIFY2(decode(metadata.embedInto(plain)) == decode(plain), "the result lost its pixels");

    // Good metadata written into a file that carries damaged metadata keeps its pixels too.
    const PhotoMetadata good = PhotoMetadata::fromBytes(tagged(plain, 1));
    QVERIFY2(decode(good.embedInto(corrupt, &warning)) == decode(corrupt),
             qPrintable("the pixels were lost; " + warning));
}

void TestPhotoMetadata::noMetadata_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("warns");

    QTest::newRow("JPEG without metadata") << encode(testImage(), "jpeg") << false;
    QTest::newRow("BMP") << encode(testImage(), "bmp") << false;
    QTest::newRow("not an image") << QByteArray("just text\n") << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("missing file") << QByteArray() << true;
}

void TestPhotoMetadata::noMetadata()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, warns);

    const QString path = m_dir->filePath(QStringLiteral("image"));
    QVERIFY2(warns || writeFile(path, contents), "writing the file");
    QString warning;
    const PhotoMetadata metadata = PhotoMetadata::read(path, &warning);
    QVERIFY2(metadata.isEmpty(), "metadata from nowhere");
    QVERIFY2(warning.isEmpty() != warns, qPrintable("warning: " + warning));
    QVERIFY2(!warning.contains(path), qPrintable("the path is repeated: " + warning));

    // A format that cannot hold metadata is passed through untouched, without a warning.
    const PhotoMetadata good = PhotoMetadata::fromBytes(tagged(encode(testImage(), "jpeg"), 1));
    const QByteArray bmp = encode(testImage(), "bmp");
    QVERIFY2(good.embedInto(bmp, &warning) == bmp && warning.isEmpty(), qPrintable(warning));
    QVERIFY2(metadata.embedInto(contents) == contents, "empty metadata changed the image");
}

void TestPhotoMetadata::concurrentUse()
{
    const QByteArray tagged = ::tagged(encode(testImage(), "jpeg"), 6);
    const QByteArray plain = encode(testImage(), "png");
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const QByteArray result = PhotoMetadata::fromBytes(tagged).embedInto(plain);
                if (PhotoMetadata::fromBytes(result).value(QStringLiteral("Xmp.photoshop.City"))
                    != QLatin1String("Lisbon"))
                    ++failures[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const int count : failures)
        QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 results lost metadata").arg(count)));
}

QTEST_GUILESS_MAIN(TestPhotoMetadata)
#include "tst_photometadata.moc"
