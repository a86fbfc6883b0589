// The paint boxes on a real X server (an Xvfb of the test's own): whatever
// way a tick's pictures take to the screen, the server shows each tick's
// pixels, and a repaint by the toolkit shows the same.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "paint_box.h"
#include "raster.h"

namespace {

// Fills a box's surface with one colour the way the visualisers do: a
// block copy from a bitmap.
void Show(PaintBox* box, TColor color)
{
    TBitmap bitmap(box->width(), box->height());
    bitmap.PenColor = color;
    bitmap.BrushColor = color;
    bitmap.Rectangle(0, 0, box->width(), box->height());
    BitBlt(box->Surface(), 0, 0, box->width(), box->height(), bitmap.Handle(), 0, 0, SRCCOPY);
}

// What the X server holds at a point of the window (a round trip, so the
// server has carried out every request sent before it).
QRgb OnServer(QWidget* window, QPoint at)
{
    const QImage grab = window->screen()->grabWindow(window->winId(), at.x(), at.y(), 1, 1).toImage();
    return grab.isNull() ? 0 : grab.pixel(0, 0) | 0xFF000000u;
}

QRgb Rgb(TColor color) { return qRgb(color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF); }

bool SharedMemoryOff() { return !qEnvironmentVariableIsEmpty("QT_XCB_NO_MITSHM"); }

class X11Screen : public testing::Test {
protected:
    void SetUp() override
    {
        window.setFixedSize(300, 200);
        label = new QLabel("0", &window);
        label->setGeometry(0, 150, 300, 50);
        left = new PaintBox(100, 100, &window);
        left->move(10, 10);
        right = new PaintBox(120, 80, &window);
        right->move(150, 20);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // Let the first paint of the window through, as the program's first
        // tick comes after it.
        QApplication::processEvents();
    }

    QWidget window;
    QLabel* label = nullptr;
    PaintBox* left = nullptr;
    PaintBox* right = nullptr;
};

TEST_F(X11Screen, EveryTicksPixelsReachTheServer)
{
    const TColor colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0x808080, 0xFFFFFF};
    for (int tick = 0; tick < 60; ++tick) {
        const TColor one = colours[tick % 6], other = colours[(tick + 3) % 6];
        Show(left, one);
        Show(right, other);
        ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
        // The server's memory path where there is one, the toolkit's where
        // there is none.
        EXPECT_EQ(PaintBox::LastShownStraight(), !SharedMemoryOff());
        if (SharedMemoryOff()) QApplication::processEvents();  // the repaint asked for
        ASSERT_EQ(OnServer(&window, {10, 10}), Rgb(one)) << "tick " << tick;
        ASSERT_EQ(OnServer(&window, {109, 109}), Rgb(one)) << "tick " << tick;
        ASSERT_EQ(OnServer(&window, {150 + 119, 20 + 79}), Rgb(other)) << "tick " << tick;
        // Outside the boxes the window keeps its own pixels.
        ASSERT_NE(OnServer(&window, {5, 5}), Rgb(one)) << "tick " << tick;

        // Widgets the toolkit paints between ticks (the status bar's text)
        // and a repaint of the boxes themselves stay right.
        if (tick % 10 == 9) {
            label->setText(QString::number(tick));
            window.repaint();
            ASSERT_EQ(OnServer(&window, {10, 10}), Rgb(one)) << "tick " << tick;
            ASSERT_EQ(OnServer(&window, {150, 20}), Rgb(other)) << "tick " << tick;
        }
    }
}

// A tick that changes a few rows in the middle of one box: only those go
// out, and they land at their own place, whatever came before them.
TEST_F(X11Screen, ChangedRowsLandAtTheirPlace)
{
    Show(left, 0x0000FF);
    Show(right, 0x00FF00);
    ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
    for (int tick = 0; tick < 12; ++tick) {
        const int row = 20 + 5 * tick;
        const TColor colour = tick % 2 == 0 ? 0xFFFFFF : 0x00FFFF;
        TBitmap bitmap(right->width(), right->height());
        bitmap.PenColor = 0x00FF00;
        bitmap.BrushColor = 0x00FF00;
        bitmap.Rectangle(0, 0, right->width(), right->height());
        bitmap.PenColor = colour;
        bitmap.MoveTo(30, row);
        bitmap.LineTo(90, row);
        BitBlt(right->Surface(), 0, 0, right->width(), right->height(), bitmap.Handle(), 0, 0, SRCCOPY);
        ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
        if (SharedMemoryOff()) QApplication::processEvents();
        ASSERT_EQ(OnServer(&window, {150 + 30, 20 + row}), Rgb(colour)) << "tick " << tick;
        ASSERT_EQ(OnServer(&window, {150 + 89, 20 + row}), Rgb(colour)) << "tick " << tick;
        ASSERT_EQ(OnServer(&window, {150 + 29, 20 + row}), Rgb(0x00FF00)) << "tick " << tick;
        // The row drawn the tick before is plain again, the other box as it was.
        if (tick > 0) {
            ASSERT_EQ(OnServer(&window, {150 + 50, 20 + row - 5}), Rgb(0x00FF00)) << "tick " << tick;
        }
        ASSERT_EQ(OnServer(&window, {60, 60}), Rgb(0x0000FF)) << "tick " << tick;
    }
}

TEST_F(X11Screen, AnUnchangedTickSendsNothing)
{
    Show(left, 0x00FF00);
    Show(right, 0x00FF00);
    ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
    Show(left, 0x00FF00);
    Show(right, 0x00FF00);
    EXPECT_FALSE(PaintBox::ShowChanges({left, right}));
    QApplication::processEvents();
    EXPECT_EQ(OnServer(&window, {50, 50}), Rgb(0x00FF00));
}

TEST_F(X11Screen, AHiddenBoxLeavesItsPlaceToTheWindow)
{
    const QRgb background = OnServer(&window, {5, 5});
    right->hide();
    QApplication::processEvents();
    Show(left, 0x0000FF);
    Show(right, 0x00FF00);
    ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
    QApplication::processEvents();
    EXPECT_EQ(OnServer(&window, {50, 50}), Rgb(0x0000FF));
    EXPECT_EQ(OnServer(&window, {200, 50}), background);
    right->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return OnServer(&window, {200, 50}) == Rgb(0x00FF00); }, 5000));
}

TEST_F(X11Screen, AHiddenWindowIsLeftToTheToolkit)
{
    Show(left, 0xFF0000);
    ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
    window.hide();
    Show(left, 0x0000FF);
    ASSERT_TRUE(PaintBox::ShowChanges({left, right}));
    EXPECT_FALSE(PaintBox::LastShownStraight());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return OnServer(&window, {50, 50}) == Rgb(0x0000FF); }, 5000));
}

// An X server of the test's own, on a display it picks itself.
pid_t StartServer()
{
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_ends[0]);
        const std::string fd = std::to_string(pipe_ends[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipe_ends[1]);
    std::string number;
    char c = 0;
    while (read(pipe_ends[0], &c, 1) == 1 && c != '\n') number += c;
    close(pipe_ends[0]);
    if (number.empty()) return -1;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv)
{
    const pid_t server = StartServer();
    if (server <= 0) {
        fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // No session bus: the toolkit would otherwise have one launched for the
    // new display, which outlives the test.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    int result = 0;
    {
        QApplication application(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return result;
}
