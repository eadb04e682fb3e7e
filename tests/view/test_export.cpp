// Writing the plot: valid PNG and SVG files, refusals, and the exit codes of --export-plot.
#include "view/plotexport.h"
#include "viewtest.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

struct TSceneFixture {
    TCaptureStore Store;
    TEnvelope Envelope;
    TPlotScene Scene;

    TSceneFixture() {
        std::mt19937_64 random(11);
        FillRandomStore(Store, 20000, random);
        Envelope.Build(Store);
        Scene.Store = &Store;
        Scene.Envelope = &Envelope;
        Scene.View = FitScene(Store, {});
    }
};

QPalette LightPalette() {
    QPalette p;
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    return p;
}

} // namespace

TEST(Export, WritesAPngOfTheAskedSizeWithTheCurveOnIt) {
    QTemporaryDir dir;
    TSceneFixture f;
    const QString path = dir.filePath(QStringLiteral("plot.PNG"));
    QString error;
    ASSERT_TRUE(ExportPlot(f.Scene, path, QSize(640, 360), LightPalette(), error)) << error.toStdString();
    QImage image;
    ASSERT_TRUE(image.load(path, "PNG"));
    EXPECT_EQ(image.size(), QSize(640, 360));
    // Some pixels carry the curve's colour: not only background, grid and text.
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            coloured += c.blue() > 150 && c.red() < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(coloured, 500);
}

TEST(Export, WritesWellFormedSvg) {
    QTemporaryDir dir;
    TSceneFixture f;
    const QString path = dir.filePath(QStringLiteral("plot.svg"));
    QString error;
    ASSERT_TRUE(ExportPlot(f.Scene, path, QSize(800, 400), LightPalette(), error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    bool svgRoot = false;
    int elements = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            svgRoot = svgRoot || (elements == 0 && xml.name() == QLatin1String("svg"));
            ++elements;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(svgRoot);
    EXPECT_GT(elements, 10);
}

TEST(Export, RefusesOtherTypesAndUnwritablePlaces) {
    TSceneFixture f;
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(ExportPlot(f.Scene, dir.filePath(QStringLiteral("plot.gif")), QSize(100, 100), LightPalette(), error));
    EXPECT_TRUE(error.contains(QStringLiteral(".png")));
    error.clear();
    EXPECT_FALSE(ExportPlot(f.Scene, dir.filePath(QStringLiteral("missing/plot.png")), QSize(100, 100), LightPalette(), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Export, PlotSizes) {
    QSize size;
    EXPECT_TRUE(ParsePlotSize(QStringLiteral("1200x600"), size));
    EXPECT_EQ(size, QSize(1200, 600));
    for (const char* bad : {"1200", "x600", "10x600", "1200x", "20000x100", "axb", "-5x100"}) {
        EXPECT_FALSE(ParsePlotSize(QString::fromLatin1(bad), size)) << bad;
    }
}

TEST(Export, CommandLineExitCodes) {
    QTemporaryDir dir;
    const std::string out = dir.filePath(QStringLiteral("cli.png")).toStdString();
    const std::string svg = dir.filePath(QStringLiteral("cli.svg")).toStdString();
    const std::string sample = std::string(CORVANE_CAPTURES_DIR) + "/hex-frames.txt";
    struct TCase {
        std::string Arguments;
        int Status;
        const char* Written; // the file that must exist afterwards, or null
    };
    const TCase cases[] = {
        {"--export-plot " + Quoted(out) + " --size 300x200 " + Quoted(sample), 0, "png"},
        {"--export-plot " + Quoted(svg) + " --length 24 --scale 1/2:mm " + Quoted(sample), 0, "svg"},
        {"--export-plot " + Quoted(out) + " " + Quoted(sample + ".missing"), 2, nullptr},
        {"--export-plot " + Quoted(out) + " --size 3x3 " + Quoted(sample), 2, nullptr},
        {"--export-plot " + Quoted(out) + " --length 99 " + Quoted(sample), 2, nullptr},
        {"--export-plot " + Quoted(out), 2, nullptr},
        {"--export-plot " + Quoted(out + ".bmp") + " " + Quoted(sample), 2, nullptr},
        {"--export-plot", 2, nullptr},
    };
    for (const TCase& c : cases) {
        QFile::remove(QString::fromStdString(out));
        QFile::remove(QString::fromStdString(svg));
        int status = -1;
        RunCommand(std::string(CORVANE_VIEW_EXE) + " " + c.Arguments + " 2>/dev/null", status);
        EXPECT_EQ(status, c.Status) << c.Arguments;
        if (c.Written != nullptr) {
            const QString written = QString::fromStdString(std::string(c.Written) == "png" ? out : svg);
            EXPECT_TRUE(QFile::exists(written)) << c.Arguments;
        } else {
            EXPECT_FALSE(QFile::exists(QString::fromStdString(out))) << c.Arguments;
        }
    }
    // Without a window the messages name the command-line options.
    int status = -1;
    const std::string binary = std::string(CORVANE_CAPTURES_DIR) + "/binary-frames.bin";
    const std::string message =
        RunCommand(std::string(CORVANE_VIEW_EXE) + " --export-plot " + Quoted(out) + " " + Quoted(binary) + " 2>&1", status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(message.find("give --frame-bytes N"), std::string::npos) << message;
    QImage image;
    RunCommand(std::string(CORVANE_VIEW_EXE) + " --export-plot " + Quoted(out) + " --size 300x200 " + Quoted(sample), status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(image.load(QString::fromStdString(out)));
    EXPECT_EQ(image.size(), QSize(300, 200));
}

TEST(Export, TheValuesAxisNamesItsUnit) {
    struct TCase {
        TViewScale Scale;
        const char* Title;
    };
    const TCase cases[] = {{{}, "count"}, {{true, 360.0 / 67108864, "deg"}, "deg"}, {{true, 0.5, ""}, "scaled"}};
    for (const TCase& c : cases) {
        QTemporaryDir dir;
        TSceneFixture f;
        f.Scene.Scale = c.Scale;
        f.Scene.View = FitScene(f.Store, c.Scale);
        const QString path = dir.filePath(QStringLiteral("plot.svg"));
        QString error;
        ASSERT_TRUE(ExportPlot(f.Scene, path, QSize(800, 400), LightPalette(), error)) << error.toStdString();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList texts;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text")) {
                texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            }
        }
        EXPECT_TRUE(texts.contains(QString::fromLatin1(c.Title))) << c.Title << ": " << texts.join(QLatin1Char('|')).toStdString();
    }
}
