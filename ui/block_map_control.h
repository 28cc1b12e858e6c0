#pragma once

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QString>

#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "ui/block_map_layout.h"
#include "ui/block_map_source.h"

namespace tessaly {

// The detail view: the file being copied as a grid of cells (white not yet reached,
// blue read, red holding unread bytes, green the position). The picture lives in an
// image; refresh() draws the cells that changed into it and paintEvent only copies it
// to the screen. Everything here runs on the GUI thread; other threads ask for a
// refresh through a queued call (WorkerGroup::post).
//
// The map keeps its own copy of the file's state, so after the copy has ended, and
// across resizes, it shows that file until resetForNewFile().
//
//   EngineMapSource source(engine);  // lives as long as the map reads it
//   map->setSource(&source);
//   map->setLanguage(&language);
//   ... once startFile has started a file:  map->resetForNewFile();
//   ... on each poll of that file, and once more after it ended:
//   workers.post([map] { map->refresh(); });
class BlockMapControl : public QFrame
{
    Q_OBJECT

public:
    // The help context of the map (F1).
    static constexpr int kHelpContext = 10;

    explicit BlockMapControl(QWidget* parent = nullptr);

    // Where refresh() reads the file from; not owned, may be null (nothing is read).
    void setSource(const BlockMapSource* source) { m_source = source; }
    // The texts of the cell tooltips; not owned, may be null (no tooltips).
    void setLanguage(const LanguageTable* language) { m_language = language; }

    // Forgets the file shown and clears the picture; the next refresh() draws the new
    // file in full. Call it when a new file has begun.
    void resetForNewFile();
    // Reads the source's progress, then its regions that are new since the last call,
    // and draws only the cells that changed. Call at most once per poll of the copy.
    void refresh();

    // The picture of the client area as it is on the screen.
    const QImage& picture() const { return m_picture; }
    const BlockMapLayout& layout() const { return m_layout; }
    // How many cells the last drawing into the picture drew.
    std::size_t lastDrawnCells() const { return m_lastDrawnCells; }
    // The cell under pos (widget coordinates) in the picture, or -1.
    int cellAt(const QPoint& pos) const;
    // The top-left pixel of cell index in the picture.
    QPoint cellOrigin(int index) const;
    // The tooltip of the cell under pos: its byte range and state; empty where no
    // cell is drawn or no language is set.
    QString toolTipAt(const QPoint& pos) const;

signals:
    // The frame was asked to close: the window hides the detail view.
    void closeRequested();
    // Help was asked for on the map (F1, What's This).
    void helpRequested(int context);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void repaintInFull();
    void draw(const BlockMapLayout::Walk& walk);
    QString text(std::uint32_t id) const;

    const BlockMapSource* m_source = nullptr;
    const LanguageTable* m_language = nullptr;
    BlockMapLayout m_layout;
    std::uint32_t m_generation = 0;  // of the source's regions, as last read
    QImage m_picture;  // the size of the client area (contentsRect)
    std::size_t m_lastDrawnCells = 0;
};

}  // namespace tessaly
