// The job queue: grid rows, QueuedPaths in step, and the queue menu's operations.
#include <QAction>
#include <QTableWidget>

#include "AppTestSupport.h"

namespace {

using Queue = WindowTest;

// One entry as the grid and QueuedPaths hold it.
struct Entry {
    std::string Status;
    std::string Name;
    std::string Path;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{" << e.Status << ", " << e.Name << ", " << e.Path << "}";
}

std::vector<Entry> EntriesOf(const Tfmain& window) {
    std::vector<Entry> entries;
    EXPECT_EQ(static_cast<size_t>(window.QueueRowCount()), window.QueuedPaths.size() + 2)
        << "rows = entries + header + empty last row";
    for (int row = 1; row + 1 < window.QueueRowCount(); ++row) {
        entries.push_back({window.RowStatus(row), window.RowFileName(row),
                           window.QueuedPaths[static_cast<size_t>(row - 1)]});
    }
    const int last = window.QueueRowCount() - 1;
    EXPECT_EQ(window.RowStatus(last), "") << "the last row stays empty";
    EXPECT_EQ(window.RowFileName(last), "") << "the last row stays empty";
    return entries;
}

void AddNumbered(Tfmain& window, int count) {
    for (int i = 1; i <= count; ++i) {
        window.AddQueueEntry("/videos/" + std::to_string(i) + ".avi");
    }
}

Entry Numbered(int i, const std::string& status = "ready") {
    return {status, std::to_string(i) + ".avi", "/videos/" + std::to_string(i) + ".avi"};
}

void Trigger(Tfmain& window, const char* action) {
    window.findChild<QAction*>(action)->trigger();
}

}  // namespace

TEST_F(Queue, EmptyQueueHasHeaderAndOneEmptyRow) {
    EXPECT_EQ(Window->QueueRowCount(), 2);
    EXPECT_EQ(Window->RowStatus(0), "Status");
    EXPECT_EQ(Window->RowFileName(0), "File");
    EXPECT_TRUE(EntriesOf(*Window).empty());
}

TEST_F(Queue, AddingWritesTheEmptyRowAndMakesANewOne) {
    Window->AddQueueEntry("/videos/a.avi");
    Window->AddQueueEntry("/videos/with space/b c.mkv");
    Window->AddQueueEntry("/videos/a.avi");  // no duplicate check
    EXPECT_EQ(Window->QueueRowCount(), 5);
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{
                                      {"ready", "a.avi", "/videos/a.avi"},
                                      {"ready", "b c.mkv", "/videos/with space/b c.mkv"},
                                      {"ready", "a.avi", "/videos/a.avi"},
                                  }));
}

TEST_F(Queue, DeletingARowMovesTheRestUp) {
    AddNumbered(*Window, 3);
    Window->DeleteQueueRow(2);
    EXPECT_EQ(Window->QueueRowCount(), 4);
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1), Numbered(3)}));
    Window->DeleteQueueRow(2);
    Window->DeleteQueueRow(1);
    EXPECT_EQ(Window->QueueRowCount(), 2);
}

TEST_F(Queue, DeletingARowWithoutEntryChangesNothing) {
    AddNumbered(*Window, 2);
    for (int row : {0, 3, 4, -1}) {
        try {
            Window->DeleteQueueRow(row);
            ADD_FAILURE() << "row " << row << " was deleted";
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(std::string(e.what()),
                      "List index out of bounds (" + std::to_string(row - 1) + ")");
        }
    }
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1), Numbered(2)}));
}

TEST_F(Queue, RemoveTakesTheSelectedRowWhichKeepsItsNumber) {
    AddNumbered(*Window, 4);
    Window->lstFiles->setCurrentCell(2, 1);
    Trigger(*Window, "Remove1");
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1), Numbered(3), Numbered(4)}));
    EXPECT_EQ(Window->SelectedQueueRow(), 2) << "now showing the following entry";
    Trigger(*Window, "Remove1");
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1), Numbered(4)}));
    // Any status may be removed, the running one included.
    Window->SetRowStatus(2, "encoding");
    Trigger(*Window, "Remove1");
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1)}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Queue, RemoveOnTheEmptyLastRowReportsTheIndex) {
    // On an empty queue the empty row is the only one that can be selected.
    Trigger(*Window, "Remove1");
    AddNumbered(*Window, 2);
    Window->lstFiles->setCurrentCell(3, 0);
    Trigger(*Window, "Remove1");
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "List index out of bounds (0)");
    EXPECT_EQ(Boxes[1].Text, "List index out of bounds (2)");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[0].Title, "Quintaro 6");
    EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Ok);
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1), Numbered(2)}));
}

TEST_F(Queue, ClearFinishedRemovesExactlyTheDoneRows) {
    struct Case {
        std::vector<std::string> Statuses;
        std::vector<int> Kept;
    };
    const Case cases[] = {
        {{"done", "done", "ready", "done", "error"}, {3, 5}},
        {{"done", "done", "done"}, {}},
        {{"ready", "error", "encoding"}, {1, 2, 3}},
        {{"Done", "done ", "DONE", "done"}, {1, 2, 3}},  // exact, case-sensitive
        {{}, {}},
    };
    for (const Case& c : cases) {
        Window->Clearall1Click();
        AddNumbered(*Window, static_cast<int>(c.Statuses.size()));
        for (size_t i = 0; i < c.Statuses.size(); ++i) {
            Window->SetRowStatus(static_cast<int>(i + 1), c.Statuses[i]);
        }
        Trigger(*Window, "Clearfinished1");
        std::vector<Entry> expected;
        for (int kept : c.Kept) {
            expected.push_back(Numbered(kept, c.Statuses[static_cast<size_t>(kept - 1)]));
        }
        EXPECT_EQ(EntriesOf(*Window), expected) << "case with " << c.Statuses.size() << " rows";
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Queue, ClearAllEmptiesGridAndPaths) {
    AddNumbered(*Window, 3);
    Window->lstFiles->setCurrentCell(3, 1);
    Trigger(*Window, "Clearall1");
    EXPECT_EQ(Window->QueueRowCount(), 2);
    EXPECT_TRUE(EntriesOf(*Window).empty());
    EXPECT_EQ(Window->RowStatus(0), "Status") << "the header stays";
    Window->AddQueueEntry("/videos/9.avi");
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(9)}));
}

TEST_F(Queue, ResetAllStatusMakesEveryEntryReadyAndLeavesTheEmptyRow) {
    AddNumbered(*Window, 4);
    const char* statuses[] = {"done", "encoding", "error", "ready"};
    for (int row = 1; row <= 4; ++row) {
        Window->SetRowStatus(row, statuses[row - 1]);
    }
    Trigger(*Window, "ResetallStatus1");
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"ready", "ready", "ready", "ready", ""}));
    Window->Clearall1Click();
    Trigger(*Window, "ResetallStatus1");
    EXPECT_EQ(Statuses(), (std::vector<std::string>{""}));
}

TEST_F(Queue, StatusCellsOutsideTheGridAreEmptyAndIgnored) {
    AddNumbered(*Window, 1);
    Window->SetRowStatus(5, "done");
    Window->SetRowStatus(-1, "done");
    EXPECT_EQ(Window->RowStatus(5), "");
    EXPECT_EQ(Window->RowStatus(-1), "");
    EXPECT_EQ(EntriesOf(*Window), (std::vector<Entry>{Numbered(1)}));
}
