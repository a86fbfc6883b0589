// The main window's status bar: panels of fixed widths, each holding a text
// as the program's bytes and showing it by the text rule.
#pragma once

#include <QLabel>
#include <QWidget>
#include <string>
#include <vector>

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    struct Panel {
        int width;
        Qt::Alignment alignment;
        bool bevel;
        std::string text;
    };
    TStatusBar(std::vector<Panel> panels, QWidget* parent);

    void SetText(std::size_t panel, const std::string& bytes);
    // The panel's hint, shown as it stands; empty for none.
    void SetHint(std::size_t panel, const std::string& bytes);
    const std::string& Text(std::size_t panel) const { return texts_.at(panel); }
    QLabel* PanelLabel(std::size_t panel) const { return labels_.at(panel); }

private:
    std::vector<std::string> texts_;
    std::vector<QLabel*> labels_;
};
