// SPDX-License-Identifier: GPL-3.0-or-later
// The answer log (Memo1): a scrolling view over a ring of lines. An appended
// line is kept at once (so everything that reads the log sees it) and shown
// with the next display frame, all lines of a frame in one go. The view
// paints only the lines in sight and keeps nothing per line besides the ring,
// so neither memory nor a frame's work grows with the lines the log holds
// beyond the ring's bytes. All of it belongs to the user-interface thread.
#pragma once

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QStaticText>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

// Lines back to back in one ring of bytes, with one offset per line: no
// allocation per line, and dropping the oldest is cheap.
class TLineRing {
  public:
    void Push(const std::string& Line);
    void PopFront(size_t Count);
    void Clear();
    size_t Count() const { return FStarts.size(); }
    size_t Length(size_t Index) const { return End(Index) - FStarts[Index]; }
    std::string Line(size_t Index) const; // 0 is the oldest kept

  private:
    size_t End(size_t Index) const {
        return Index + 1 < FStarts.size() ? FStarts[Index + 1] : FBase + FBytes.size();
    }
    std::deque<char> FBytes;
    std::deque<size_t> FStarts; // where each line begins, counted from the first byte ever pushed
    size_t FBase = 0;           // that count for FBytes' first byte
};

// The log's lines and the rows shown of them. The rows lag the lines kept
// until Publish (the view's next frame): appended lines are not shown yet,
// and the oldest lines dropped meanwhile are still shown.
class TMemoLog {
  public:
    // Keeps Line; then, while over a bound, the oldest line goes (the newest
    // always stays).
    void Append(const std::string& Line);
    void Clear();
    // Shows what was appended and drops what went since the last call.
    void Publish();
    std::vector<std::string> Lines() const; // every kept line, oldest first
    size_t LineCount() const { return FRing.Count() - FDropped; }
    bool Pending() const { return FDropped > 0 || FRing.Count() > FShown; }
    size_t Rows() const { return FShown; }
    std::string Row(size_t Index) const { return FRing.Line(Index); }
    // Rows ever dropped from the front: row i is line number First() + i.
    uint64_t First() const { return FFirst; }

    size_t MaxLines = 100000;
    size_t MaxChars = 16 * 1024 * 1024; // bytes of text plus one per line break

  private:
    void DropOldest();
    void PopFront(size_t Count);
    TLineRing FRing;
    size_t FShown = 0;   // rows shown: FRing's first FShown lines
    size_t FDropped = 0; // of those, the oldest ones gone from the log already
    size_t FBytes = 0;   // text bytes of the kept lines
    uint64_t FFirst = 0;
};

// The log's scroll bars. A bar repaints only when a change of its range,
// value or steps shows: streaming, the log's range grows with every frame
// while the slider, at its least length and at the end, stays where it is,
// and painting a bar costs more than painting the lines.
class TLogScrollBar : public QScrollBar {
  public:
    explicit TLogScrollBar(Qt::Orientation O) : QScrollBar(O) {}
    // Changes while a hold lasts are judged together when it ends.
    struct THold {
        explicit THold(TLogScrollBar& B) : Bar(B) { ++Bar.FHold; }
        ~THold() { Bar.Release(); }
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;
        TLogScrollBar& Bar;
    };

  protected:
    void paintEvent(QPaintEvent* Event) override;
    void sliderChange(SliderChange Change) override;

  private:
    // What a style draws from the slider's numbers: the parts' places, and
    // whether the value is at an end (at both: nothing to scroll).
    struct TLook {
        QRect Slider, Groove, SubLine, AddLine;
        bool AtMinimum = false, AtMaximum = false;
        bool operator==(const TLook& O) const;
    };
    TLook Look() const;
    bool Shows() const; // the bar now looks other than as last painted
    bool Transient() const;
    void Release();
    TLook FPainted;
    bool FHavePainted = false;
    int FHold = 0;
    bool FChanged = false;
};

class TMemoView : public QAbstractScrollArea {
  public:
    explicit TMemoView(QWidget* Parent = nullptr);

    // Line as received (local 8-bit); every line, empty ones too, is a line.
    void Append(const std::string& Line);
    void Clear();
    std::vector<std::string> Lines() const { return FLog.Lines(); }
    QString Text() const; // the lines joined by '\n', as a plain text memo gives them
    int LineCount() const { return static_cast<int>(FLog.LineCount()); }
    size_t MaxChars() const { return FLog.MaxChars; }
    void SetMaxChars(size_t Value) { FLog.MaxChars = Value; }
    void SetMaxLines(size_t Value) { FLog.MaxLines = Value; }

    // What the view shows (until the next frame, a few lines may be missing
    // at the end and a few dropped ones still at the start).
    int RowCount() const { return static_cast<int>(FLog.Rows()); }
    QString RowText(int Row) const;
    int TopRow() const; // the first row in sight

    // Whole lines are selected, from an anchor to the current line, by the
    // mouse (click, drag, Shift+click) or the keys (Shift+Up/Down, Ctrl+A).
    void SelectRows(int From, int To);
    void SelectAll();
    QString SelectedText() const; // the selected lines joined by '\n'
    void CopySelection() const;   // to the clipboard (Ctrl+C)

    // Lines appended or dropped that the next frame shows.
    bool Pending() const { return FLog.Pending(); }
    // Shows what was appended since the last frame at once; the frame timer
    // calls it.
    void ShowPending();
    static constexpr int FrameMs = 16;
    // A window that shows other things per display frame too passes its own
    // frame here: appended lines then call Request instead of starting the
    // view's timer, and the window calls ShowPending with its frame, so that
    // the log and the rest reach the screen in one paint.
    void SetFrameRequest(std::function<void()> Request) { FFrameRequest = std::move(Request); }

  protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;

  private:
    int LineHeight() const;
    int RowAt(int Y) const;
    QStaticText LaidOut(int Row);
    int Width(const std::string& Line); // pixels as drawn; 0 when it cannot be wider than FWidest
    void UpdateScrollBars();
    TMemoLog FLog;
    TLogScrollBar* FVertical;
    TLogScrollBar* FHorizontal;
    QTimer FFrame;
    std::function<void()> FFrameRequest;
    int FWidest = 0;     // pixels of the widest line shown since the last Clear
    int FWidestChar = 0; // pixels of the font's widest printable ASCII character; 0: unknown
    // The rows in sight at the last paint, laid out, by line number. A line
    // never changes, and streaming, a frame shows nearly the same lines as
    // the one before: laying each out anew (shaping, glyph lookup) was most
    // of a frame's work. Rows leaving the sight are forgotten.
    std::unordered_map<uint64_t, QStaticText> FLayouts;
    // Layouts by text: a sensor at rest sends the same reading line after
    // line. Emptied when full; a layout is a few hundred bytes.
    std::unordered_map<QString, QStaticText> FTextLayouts;
    static constexpr size_t MaxTextLayouts = 1024;
    // The selection as line numbers (see TMemoLog::First), so that dropping
    // the oldest lines leaves it on the same lines.
    bool FSelected = false;
    uint64_t FAnchor = 0;
    uint64_t FCurrent = 0;
};
