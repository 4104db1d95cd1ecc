#include "decodermessages.h"
#include "filesizelimit.h"
#include "imagefile.h"
#include "memorybudget.h"
#include "phototesting.h"
#include "resultphoto.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

namespace {

QImage decoded(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).read();
}

// The PNG with one byte changed, its position counted from where `marker` starts.
QByteArray flipped(const QByteArray &png, const char *marker, int offset)
{
    QByteArray bytes = png;
    const qsizetype at = bytes.indexOf(marker) + offset;
    bytes[at] = char(bytes[at] ^ 0x40);
    return bytes;
}

// One row of one byte a pixel, and whatever follows it.
QByteArray pngWithHeader(quint32 width, quint32 height, int depth, int colourType,
                         const QByteArray &trailing = QByteArray())
{
    const QByteArray data = QByteArray::fromHex("789c6360000000020001") + trailing;
    const QByteArray header = bigEndian32(width) + bigEndian32(height) + QByteArray(1, char(depth))
        + QByteArray(1, char(colourType)) + QByteArray(3, '\0');
    return QByteArray("\x89PNG\r\n\x1a\n") + pngChunk("IHDR", header) + pngChunk("IDAT", data)
        + pngChunk("IEND", {});
}

// Smooth colours with fine detail, which every subsampling treats differently.
QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, (y * 7 + x * x) % 256, (x ^ y) * 3 % 256));
    }
    return image;
}

// The image as libjpeg-turbo encodes it with the given subsampling and flags.
QByteArray turboJpeg(const QImage &image, int subsampling, int flags)
{
    const bool grey = image.format() == QImage::Format_Grayscale8;
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(
        handle, image.constBits(), image.width(), int(image.bytesPerLine()), image.height(),
        grey                    ? TJPF_GRAY
            : subsampling == -1 ? TJPF_CMYK
                                : TJPF_BGRX,
        &jpeg, &size, subsampling == -1 ? TJSAMP_444 : subsampling, 90, flags);
    const QByteArray bytes
        = result == 0 ? QByteArray(reinterpret_cast<char *>(jpeg), qsizetype(size)) : QByteArray();
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

} // namespace

class TestImageFile : public QObject
{
    Q_OBJECT

private slots:
    void pngLayout_data();
    void pngLayout();
    void jpegReadAsQtReads_data();
    void jpegReadAsQtReads();
    void jpegChromaInBlocks_data();
    void jpegChromaInBlocks();
    void jpegWrittenAsQtWrites_data();
    void jpegWrittenAsQtWrites();
    void greyOnColour_data();
    void greyOnColour();
    void encodingFailsInOurWords_data();
    void encodingFailsInOurWords();
    void affordableJobs_data();
    void affordableJobs();
    void resultPhoto_data();
    void resultPhoto();
    void fuzzCorpus_data();
    void fuzzCorpus();
};

void TestImageFile::pngLayout_data()
{
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<bool>("readable");

    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(qRgb(30, 120, 200));
    const QByteArray png
        = withPngChunk(encodedImage(image, "png"), "tEXt", QByteArray("Comment\0a photo", 15));
    const qsizetype end = png.indexOf("IEND") - 4;
    QTest::newRow("sound") << png << true;
    QTest::newRow("ancillary checksum wrong") << flipped(png, "tEXt", 6) << true;
    QTest::newRow("cut in the image data") << png.left(png.indexOf("IDAT") + 10) << false;
    QTest::newRow("cut before the end chunk") << png.left(end) << false;
    QTest::newRow("image data checksum wrong") << flipped(png, "IDAT", 6) << false;
    QTest::newRow("header checksum wrong") << flipped(png, "IHDR", 6) << false;
    QTest::newRow("unknown critical chunk") << withPngChunk(png, "ABCD", "x") << false;
    QTest::newRow("invalid chunk name") << withPngChunk(png, "ab1d", "x") << false;
    QTest::newRow("chunk length out of range")
        << png.left(33) + QByteArray("\xff\xff\xff\xf0tEXt") + png.mid(33) << false;
    QTest::newRow("text chunk over 8 MB")
        << withPngChunk(png, "tEXt", QByteArray("Comment\0", 8) + QByteArray(8000001, 'x')) << true;
    QTest::newRow("image data over 8 MB")
        << pngWithHeader(1, 1, 8, 0, QByteArray(8000001, '\0')) << true;
    QTest::newRow("small sound file") << pngWithHeader(1, 1, 8, 0) << true;
    QTest::newRow("wider than a million pixels") << pngWithHeader(1000001, 1, 8, 0) << false;
    QTest::newRow("depth 3") << pngWithHeader(1, 1, 3, 0) << false;
    QTest::newRow("palette missing") << pngWithHeader(1, 1, 8, 3) << false;
    QTest::newRow("header twice") << png.left(33) + png.mid(8, 25) + png.mid(33) << false;
    QTest::newRow("no image data") << png.left(33) + pngChunk("IEND", {}) << false;
}

void TestImageFile::pngLayout()
{
    QFETCH(QByteArray, png);
    QFETCH(bool, readable);

    // libpng prints its own line when it gives up; ImageFile refuses exactly those files
    // before libpng sees them.
    QCOMPARE(!decoded(png).isNull(), readable);
    const ImageFile file = ImageFile::fromBytes(png);
    QCOMPARE(!file.isNull(), readable);
    QVERIFY2(readable || file.error().startsWith(QLatin1String("the file is damaged (")),
             qPrintable(file.error()));
}

void TestImageFile::jpegReadAsQtReads_data()
{
    QTest::addColumn<QByteArray>("jpeg");

    const QImage image = photoLike(67, 45);
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    QImage dense = image;
    dense.setDotsPerMeterX(11811);
    dense.setDotsPerMeterY(5906);
    QImage profiled = image;
    profiled.setColorSpace(QColorSpace::DisplayP3);
    const QByteArray sound = encodedImage(image, "jpeg");
    QTest::newRow("4:2:0") << turboJpeg(image, TJSAMP_420, 0);
    QTest::newRow("4:4:4") << turboJpeg(image, TJSAMP_444, 0);
    QTest::newRow("4:2:2") << turboJpeg(image, TJSAMP_422, 0);
    QTest::newRow("4:4:0") << turboJpeg(image, TJSAMP_440, 0);
    QTest::newRow("progressive") << turboJpeg(image, TJSAMP_420, TJFLAG_PROGRESSIVE);
    QTest::newRow("grey") << turboJpeg(grey, TJSAMP_GRAY, 0);
    QTest::newRow("CMYK") << turboJpeg(image, -1, 0);
    QTest::newRow("Qt's, with resolution") << encodedImage(dense, "jpeg");
    QTest::newRow("Qt's, with profile") << encodedImage(profiled, "jpeg");
    QTest::newRow("with a comment") << withJpegSegment(sound, 0xfe, "Caption: a photo");
    QTest::newRow("short profile segment")
        << withJpegSegment(sound, 0xe2, QByteArray("ICC_PROFILE\0\x01\x01", 14) + "short");
    QTest::newRow("cut short") << sound.left(sound.size() * 6 / 10);
    QTest::newRow("scan data cut out")
        << sound.left(sound.size() / 2) + sound.right(sound.size() / 4);
    QTest::newRow("no scan") << sound.left(sound.indexOf("\xff\xda"));
}

void TestImageFile::jpegReadAsQtReads()
{
    QFETCH(QByteArray, jpeg);
    QVERIFY2(!jpeg.isEmpty(), "no JPEG made");

    // What Qt's plugin makes of the file, pixels, resolution, profile and complaint alike.
    QImage expected;
    QString expectedDamage;
    {
        const DecoderMessages messages;
        expected = decoded(jpeg);
        expectedDamage = messages.damage();
    }
    const ImageFile file = ImageFile::fromBytes(jpeg);
    QCOMPARE(file.isNull(), expected.isNull());
    if (expected.isNull())
        return;
    QCOMPARE(file.image().format(), expected.format());
    QVERIFY2(file.image() == expected, "the pixels differ");
    QCOMPARE(file.image().dotsPerMeterX(), expected.dotsPerMeterX());
    QCOMPARE(file.image().dotsPerMeterY(), expected.dotsPerMeterY());
    QCOMPARE(file.image().colorSpace(), expected.colorSpace());
    QCOMPARE(file.image().textKeys(), expected.textKeys());
    QCOMPARE(file.damage(), expectedDamage);
}

void TestImageFile::jpegChromaInBlocks_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    // The pixels that share one stored chroma sample.
    QTest::addColumn<QSize>("block");

    const QImage image = photoLike(67, 45);
    QTest::newRow("4:2:0") << turboJpeg(image, TJSAMP_420, 0) << QSize(2, 2);
    QTest::newRow("4:2:2") << turboJpeg(image, TJSAMP_422, 0) << QSize(2, 1);
    QTest::newRow("4:2:0, with a comment")
        << withJpegSegment(turboJpeg(image, TJSAMP_420, 0), 0xfe, "Caption: a photo")
        << QSize(2, 2);
    QTest::newRow("4:4:4") << turboJpeg(image, TJSAMP_444, 0) << QSize(1, 1);
}

void TestImageFile::jpegChromaInBlocks()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(QSize, block);
    const QImage blocks
        = ImageFile::fromBytes(jpeg, ImageFile::DefaultPixelBudget, JpegCodec::Chroma::Blocks)
              .image();
    const QImage smooth = ImageFile::fromBytes(jpeg).image();
    QVERIFY2(!blocks.isNull() && blocks.size() == smooth.size(), "not decoded");
    if (block == QSize(1, 1)) {
        QVERIFY2(blocks == smooth, "chroma at full resolution was changed");
        return;
    }
    // The largest spread of chroma over a block that no channel clips in; whole RGB levels
    // leave up to about 2.
    const auto spread = [&block](const QImage &image) {
        double largest = 0.0;
        for (int y = 0; y + block.height() <= image.height(); y += block.height()) {
            for (int x = 0; x + block.width() <= image.width(); x += block.width()) {
                double low[2] = { 1e9, 1e9 };
                double high[2] = { -1e9, -1e9 };
                bool clipped = false;
                for (int v = y; v < y + block.height(); ++v) {
                    for (int u = x; u < x + block.width(); ++u) {
                        const QRgb p = image.pixel(u, v);
                        for (const int level : { qRed(p), qGreen(p), qBlue(p) })
                            clipped = clipped || level == 0 || level == 255;
                        const double luma = 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
                        const double chroma[2] = { qBlue(p) - luma, qRed(p) - luma };
                        for (int c = 0; c < 2; ++c) {
                            low[c] = std::min(low[c], chroma[c]);
                            high[c] = std::max(high[c], chroma[c]);
                        }
                    }
                }
                if (!clipped)
                    largest = std::max({ largest, high[0] - low[0], high[1] - low[1] });
            }
        }
        return largest;
    };
    const double within = spread(blocks);
    QVERIFY2(within < 2.5,
             qPrintable(QStringLiteral("chroma spreads by %1 in a block").arg(within)));
    QVERIFY2(spread(smooth) > 2.5, "the test image shows no chroma detail to keep apart");
}

void TestImageFile::jpegWrittenAsQtWrites_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("quality");

    const QImage image = photoLike(61, 37);
    QImage dense = image;
    dense.setDotsPerMeterX(11811);
    dense.setDotsPerMeterY(2000);
    QImage profiled = image;
    profiled.setColorSpace(QColorSpace::AdobeRgb);
    QImage texted = image;
    texted.setText(QStringLiteral("Description"), QStringLiteral("a photo"));
    QTest::newRow("quality 92") << image << 92;
    QTest::newRow("quality 100") << image << 100;
    QTest::newRow("default quality") << image << -1;
    QTest::newRow("quality 0") << image << 0;
    QTest::newRow("grey") << image.convertToFormat(QImage::Format_Grayscale8) << 85;
    QTest::newRow("resolution") << dense << 90;
    QTest::newRow("profile") << profiled << 90;
    QTest::newRow("text") << texted << 90;
    QTest::newRow("alpha") << image.convertToFormat(QImage::Format_ARGB32) << 90;
}

void TestImageFile::jpegWrittenAsQtWrites()
{
    QFETCH(QImage, image);
    QFETCH(int, quality);

    QByteArray expected;
    QBuffer buffer(&expected);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    QVERIFY(writer.write(image));
    QVERIFY2(ImageFile::encode(image, "jpg", quality).bytes.value() == expected,
             "the bytes differ");
}

void TestImageFile::greyOnColour_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<bool>("kept");

    const std::array<double, 3> d50 { 0.9642, 1.0, 0.8249 };
    const std::array<double, 3> d65 { 0.9505, 1.0, 1.089 };
    QList<quint16> table;
    for (int i = 0; i < 64; ++i)
        table.append(quint16(std::lround(std::pow(i / 63.0, 1.8) * 65535)));
    for (const QByteArray format : { "jpeg", "png", "tiff", "webp" }) {
        QTest::addRow("%s, gamma 2.2, D50", format.constData())
            << format << ::greyProfile(d50, gammaCurve(2.2)) << true;
        QTest::addRow("%s, gamma 1.8, D65", format.constData())
            << format << ::greyProfile(d65, gammaCurve(1.8)) << true;
        QTest::addRow("%s, table", format.constData())
            << format << ::greyProfile(d50, curve(table)) << true;
    }
    QTest::newRow("jpeg, parametric curve")
        << QByteArray("jpeg") << ::greyProfile(d50, parametricCurve(2.4, 1.2, -0.1)) << false;
}

void TestImageFile::greyOnColour()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, profile);
    QFETCH(bool, kept);

    // What a filter makes of a grey photo: colour pixels with the photo's grey profile.
    const QColorSpace grey = QColorSpace::fromIccProfile(profile);
    QVERIFY2(grey.isValid(), "Qt does not read the grey profile");
    QImage image(16, 16, QImage::Format_RGB32);
    for (int i = 0; i < 256; ++i)
        image.setPixel(i % 16, i / 16, qRgb(i, i, i));
    image.setColorSpace(grey);

    const ImageFile::Encoded encoded = ImageFile::encode(image, format, 100);
    QVERIFY2(encoded.bytes.ok(), qPrintable(encoded.bytes.error()));
    const QString &warning = encoded.warning;
    const QImage written = decoded(encoded.bytes.value());
    QVERIFY2(!written.isNull(), "nothing written");
    const QByteArray writtenProfile = written.colorSpace().iccProfile();
    if (!kept) {
        QVERIFY2(writtenProfile.isEmpty(), "a profile was written");
        QVERIFY2(warning.contains(QLatin1String("grey colour profile")), qPrintable(warning));
        return;
    }
    QVERIFY2(warning.isEmpty(), qPrintable(warning));
    QCOMPARE(writtenProfile.mid(16, 4), QByteArray("RGB "));
    // Greys look the same through the new profile as through the grey one.
    const QColorTransform before = grey.transformationToColorSpace(QColorSpace::SRgb);
    const QColorTransform after
        = written.colorSpace().transformationToColorSpace(QColorSpace::SRgb);
    for (int level = 0; level < 256; level += 15) {
        const QRgb expected = before.map(qRgb(level, level, level));
        const QRgb actual = after.map(qRgb(level, level, level));
        QVERIFY2(std::abs(qRed(actual) - qRed(expected)) <= 1
                     && std::abs(qGreen(actual) - qGreen(expected)) <= 1
                     && std::abs(qBlue(actual) - qBlue(expected)) <= 1,
                 qPrintable(QStringLiteral("level %1: %2 instead of %3")
                                .arg(level)
                                .arg(actual, 8, 16)
                                .arg(expected, 8, 16)));
    }
}

void TestImageFile::encodingFailsInOurWords_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("error");
    QImage pixels(4, 4, QImage::Format_RGB32);
    pixels.fill(Qt::darkCyan);
    QTest::newRow("a format Qt cannot write")
        << pixels << QByteArray("xyz") << QStringLiteral("this build cannot write XYZ images");
    QTest::newRow("no pixels") << QImage() << QByteArray("png")
                               << QStringLiteral("the image cannot be stored as PNG");
}

void TestImageFile::encodingFailsInOurWords()
{
    QFETCH(QImage, image);
    QFETCH(QByteArray, format);
    QFETCH(QString, error);
    const ImageFile::Encoded encoded = ImageFile::encode(image, format, -1);
    QVERIFY2(!encoded.bytes.ok(), "encoded anyway");
    QCOMPARE(encoded.bytes.error(), error);
}

void TestImageFile::affordableJobs_data()
{
    QTest::addColumn<int>("wanted");
    QTest::addColumn<qint64>("available");
    QTest::addColumn<bool>("deep");
    QTest::addColumn<int>("jobs");

    // A 100-megapixel budget takes 1.2 GB a job, 2.4 GB at 16 bits.
    const qint64 gigabyte = qint64(1000) * 1000 * 1000;
    QTest::newRow("memory unknown") << 8 << qint64(-1) << false << 8;
    QTest::newRow("room for all") << 4 << 16 * gigabyte << false << 4;
    QTest::newRow("room for some") << 8 << 5 * gigabyte << false << 4;
    QTest::newRow("room for fewer at 16 bits") << 8 << 5 * gigabyte << true << 2;
    QTest::newRow("room for none still tries one") << 8 << qint64(1000) << true << 1;
}

void TestImageFile::affordableJobs()
{
    QFETCH(int, wanted);
    QFETCH(qint64, available);
    QFETCH(bool, deep);
    QFETCH(int, jobs);
    QCOMPARE(MemoryBudget::affordableJobs(wanted, 100'000'000, available,
                                          deep ? MemoryBudget::DeepBytesPerPixel
                                               : MemoryBudget::BytesPerPixel),
             jobs);
}

void TestImageFile::resultPhoto_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("createNew");
    QTest::addColumn<bool>("oldFile");
    QTest::addColumn<qint64>("sizeLimit"); // 0: none
    QTest::addColumn<QString>("problem"); // how the line starts; empty: written

    QTest::newRow("jpeg over an old file")
        << "result.jpg" << QByteArray() << false << true << qint64(0) << QString();
    QTest::newRow("png, new file")
        << "result.png" << QByteArray() << true << false << qint64(0) << QString();
    QTest::newRow("tiff by format, odd suffix")
        << "result.out" << QByteArray("tiff") << false << false << qint64(0) << QString();
    QTest::newRow("name taken") << "result.jpg" << QByteArray() << true << true << qint64(0)
                                << "already exists";
    QTest::newRow("disk full") << "result.png" << QByteArray() << false << true << qint64(300)
                               << "cannot write: ";
    QTest::newRow("no image type")
        << "result.txt" << QByteArray() << false << true << qint64(0) << "cannot write: ";
}

void TestImageFile::resultPhoto()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(bool, createNew);
    QFETCH(bool, oldFile);
    QFETCH(qint64, sizeLimit);
    QFETCH(QString, problem);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(name);
    const QByteArray old("the file that was there");
    if (oldFile) {
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(old) == old.size(),
                 qPrintable(file.errorString()));
    }
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
    }
    image.setColorSpace(QColorSpace::DisplayP3);
    const PhotoMetadata metadata = PhotoMetadata::fromBytes(storedPhoto(image, "jpeg", 1));

    ResultPhoto::Written written;
    {
        const ScopedFileSizeLimit fullDisk(sizeLimit > 0 ? rlim_t(sizeLimit) : RLIM_INFINITY);
        written = ResultPhoto::write(path, image, format, 90, metadata,
                                     createNew ? DurableFile::Mode::CreateNew
                                               : DurableFile::Mode::Replace);
    }
    QCOMPARE(written.nameTaken, problem == QLatin1String("already exists"));
    if (!problem.isEmpty()) {
        QVERIFY2(!written.outcome.ok() && written.outcome.error().startsWith(problem),
                 qPrintable(written.outcome.error()));
        QFile file(path);
        QVERIFY2(oldFile ? file.open(QIODevice::ReadOnly) && file.readAll() == old : !file.exists(),
                 "the old file changed");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), oldFile ? 1 : 0);
        return;
    }
    QVERIFY2(written.outcome.ok(), qPrintable(written.outcome.error()));
    QVERIFY2(written.encoded && written.warnings.isEmpty(),
             qPrintable(written.warnings.join(u'\n')));
    const ImageFile result = ImageFile::read(path);
    QCOMPARE(result.image().size(), image.size());
    QCOMPARE(result.image().colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    QCOMPARE(result.metadata().value(QStringLiteral("Exif.Image.Make")),
             QStringLiteral("Chromaloom Test"));
}

void TestImageFile::fuzzCorpus_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(IMAGE_CORPUS));
    const QStringList names = corpus.entryList(QDir::Files);
    QVERIFY2(!names.isEmpty(), IMAGE_CORPUS);
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
}

void TestImageFile::fuzzCorpus()
{
    QFETCH(QString, path);
    // The fuzzer's checked-in inputs, read and carried into a result as apply does; the
    // sound ones ("valid-...") without a word.
    const ImageFile file = ImageFile::read(path, 1000000);
    if (QFileInfo(path).fileName().startsWith(QLatin1String("valid-"))) {
        QVERIFY2(!file.isNull(), qPrintable(file.error()));
        QVERIFY2(file.damage().isEmpty() && file.warnings().isEmpty(),
                 qPrintable(file.damage() + file.warnings().join(u'\n')));
    }
    if (file.isNull())
        return;
    const QImage result = file.image().copy(0, 0, 5, 3);
    const QByteArray carried
        = file.metadata().embedInto(ImageFile::encode(result, "jpeg", 90).bytes.value()).bytes;
    QCOMPARE(ImageFile::fromBytes(carried).image().size(), QSize(5, 3));
}

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_imagefile.moc"
