#pragma once

// The job queue: the grid lstFiles, which the user sees, and the parallel list of the entries'
// full paths. Row 0 of the grid is the header ("Status", "File"), rows 1 to n are the entries,
// and one empty last row follows them, so RowCount() is n + 2; path r - 1 belongs to row r.

#include <string>
#include <vector>

class QTableWidget;

class JobQueue {
  public:
    JobQueue(QTableWidget& grid, std::vector<std::string>& paths);

    // The header cells, in row 0 (hidden: the grid's own header bar shows them).
    void WriteHeader();

    int RowCount() const;
    std::string RowStatus(int row) const;                   // "" outside the grid
    void SetRowStatus(int row, const std::string& status);  // ignored outside the grid
    std::string RowFileName(int row) const;
    int SelectedRow() const;  // the row Remove acts on; never the header

    // A new "ready" entry before the empty last row.
    void Add(const std::string& path);
    // Throws std::out_of_range "List index out of bounds (%d)" for a row without an entry.
    void DeleteRow(int row);
    void ClearFinished();
    void ClearAll();
    void ResetAllStatus();

  private:
    QTableWidget& grid_;
    std::vector<std::string>& paths_;
};
