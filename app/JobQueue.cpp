#include "app/JobQueue.h"

#include <QFile>
#include <QTableWidget>
#include <algorithm>
#include <stdexcept>

#include "app/WindowWidgets.h"
#include "pipeline/Paths.h"

JobQueue::JobQueue(QTableWidget& grid, std::vector<std::string>& paths)
    : grid_(grid), paths_(paths) {}

void JobQueue::WriteHeader() {
    grid_.setItem(0, 0, QueueCell(QStringLiteral("Status")));
    grid_.setItem(0, 1, QueueCell(QStringLiteral("File")));
    grid_.setRowHidden(0, true);
    grid_.setCurrentCell(1, 0);
}

int JobQueue::RowCount() const {
    return grid_.rowCount();
}

std::string JobQueue::RowStatus(int row) const {
    const QTableWidgetItem* item = grid_.item(row, 0);
    return item ? item->text().toStdString() : std::string();
}

void JobQueue::SetRowStatus(int row, const std::string& status) {
    if (row < 0 || row >= grid_.rowCount()) {
        return;
    }
    if (QTableWidgetItem* item = grid_.item(row, 0)) {
        item->setText(QString::fromStdString(status));
    } else {
        grid_.setItem(row, 0, QueueCell(QString::fromStdString(status)));
    }
}

std::string JobQueue::RowFileName(int row) const {
    const QTableWidgetItem* item = grid_.item(row, 1);
    return item ? QFile::encodeName(item->text()).toStdString() : std::string();
}

int JobQueue::SelectedRow() const {
    const int row = grid_.currentRow();
    return row < 1 ? 1 : row;
}

void JobQueue::Add(const std::string& path) {
    const int row = grid_.rowCount() - 1;
    grid_.setItem(row, 0, QueueCell(QStringLiteral("ready")));
    grid_.setItem(row, 1,
                  QueueCell(QFile::decodeName(QByteArray::fromStdString(FileNameOf(path)))));
    paths_.push_back(path);
    grid_.setRowCount(row + 2);
}

void JobQueue::DeleteRow(int row) {
    const long index = static_cast<long>(row) - 1;
    if (index < 0 || index >= static_cast<long>(paths_.size())) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    paths_.erase(paths_.begin() + index);
    const int current = grid_.currentRow();
    const int column = std::max(grid_.currentColumn(), 0);
    // Removing the row moves the rows below, the empty last row included, up by one.
    grid_.removeRow(row);
    // The selection keeps its row number and so shows the following entry.
    if (current >= 1) {
        grid_.setCurrentCell(std::min(current, grid_.rowCount() - 1), column);
    }
}

void JobQueue::ClearFinished() {
    // Upward, so that removals never move a row still to be visited.
    for (int row = grid_.rowCount() - 1; row >= 1; --row) {
        if (RowStatus(row) == "done") {
            DeleteRow(row);
        }
    }
}

void JobQueue::ClearAll() {
    paths_.clear();
    grid_.setRowCount(1);
    grid_.setRowCount(2);
}

void JobQueue::ResetAllStatus() {
    for (int row = 1; row <= grid_.rowCount() - 2; ++row) {
        SetRowStatus(row, "ready");
    }
}
