#pragma once
// "ID3 manager": the ID3 version 1 tags of a pane's MP3 files in a grid, to
// edit one file or all of them at once, fill titles from file names and
// write the tags back. Tag fields are 8-bit: shown as Latin-1 and written as
// Latin-1, a character Latin-1 cannot hold becoming "?".
#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;

namespace tarnel {

class Registry;
class UserMessages;
struct TDirData;

class TDlgId3 : public QDialog {
    Q_OBJECT
public:
    // Grid columns; the fields title to comment edit columns 1 to 6.
    enum Column { FileName = 0, Title, Artist, Album, Year, Genre, Comment, ColumnCount };

    TDlgId3(UserMessages& messages, Registry* registry, QWidget* parent = nullptr);
    ~TDlgId3() override;

    // Lists the pane's selected MP3 files, or all of them when nothing is
    // selected. reread reads the pane again after the tags were written.
    void OpenForPane(const TDirData& pane, std::function<void()> reread);

    void BTNApplyClick();
    void BTNUndoClick();
    void BTNGuessTitlesClick();
    void BTNAdvancedClick();
    void SGFilesClick(int row);

    QTableWidget* Grid() const { return grid_; }
    QLineEdit* Field(Column c) const { return fields_[size_t(c)]; } // not Genre
    QComboBox* GenreBox() const { return genre_; }
    QCheckBox* Fixed(Column c) const { return fixed_[size_t(c)]; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* UndoButton() const { return undo_; }
    QPushButton* AdvancedButton() const { return advanced_; }
    QWidget* AdvancedRow() const { return advancedRow_; }
    QCheckBox* OnlyEmptyTitles() const { return onlyEmpty_; }
    QCheckBox* SubstituteUnderscores() const { return underscores_; }
    QCheckBox* RemoveExtension() const { return removeExtension_; }
    const std::vector<std::string>& Paths() const { return paths_; }

private:
    void FillGrid();
    void ShowRow(int row);
    void FieldChanged(Column column, const QString& text);
    void EnableChangeButtons();
    QString Cell(int row, Column column) const;
    void SetCell(int row, Column column, const QString& text);

    UserMessages& messages_;
    Registry* registry_;
    std::function<void()> reread_;
    std::vector<std::string> paths_; // full paths, raw bytes, one per row
    std::vector<std::string> names_;
    // What each row showed after the last read: a row that still shows it is
    // not written, so its tag keeps every byte.
    std::vector<std::array<QString, ColumnCount>> readCells_;
    std::vector<uint8_t> readTracks_;
    bool loading_ = true;
    int currentRow_ = 0;
    QTableWidget* grid_ = nullptr;
    std::array<QLineEdit*, ColumnCount> fields_{};
    std::array<QCheckBox*, ColumnCount> fixed_{};
    QComboBox* genre_ = nullptr;
    QPushButton* advanced_ = nullptr;
    QWidget* advancedRow_ = nullptr;
    QCheckBox* onlyEmpty_ = nullptr;
    QCheckBox* underscores_ = nullptr;
    QCheckBox* removeExtension_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* undo_ = nullptr;
};

} // namespace tarnel
