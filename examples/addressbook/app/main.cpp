// The example application under test: an address book, an ordinary Qt Widgets program that knows
// nothing of the test tool. A main window with a menu bar, a table of entries, Add/Edit/Remove buttons,
// a modal dialog to add and edit an entry, and a status bar. The main widgets have object names; the
// menus, the status bar and the dialog's labels do not (real applications are like that).
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct Entry {
    QString first, last, email, phone;
    QStringList fields() const { return {first, last, email, phone}; }
};

class EntryDialog : public QDialog {
public:
    EntryDialog(QWidget* parent, const QString& title, const Entry& entry) : QDialog(parent)
    {
        setObjectName(QStringLiteral("entryDialog"));
        setWindowTitle(title);
        auto* form = new QFormLayout;
        const QStringList names{QStringLiteral("firstName"), QStringLiteral("lastName"), QStringLiteral("email"),
                                QStringLiteral("phone")};
        const QStringList labels{tr("First name"), tr("Last name"), tr("E-mail"), tr("Phone")};
        const QStringList values = entry.fields();
        for (int i = 0; i < 4; ++i) {
            fields[i] = new QLineEdit(values.at(i));
            fields[i]->setObjectName(names.at(i));
            form->addRow(labels.at(i), fields[i]);
        }
        auto* ok = new QPushButton(tr("OK"));
        ok->setObjectName(QStringLiteral("okButton"));
        ok->setDefault(true);
        auto* cancel = new QPushButton(tr("Cancel"));
        cancel->setObjectName(QStringLiteral("cancelButton"));
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(ok);
        buttons->addWidget(cancel);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(form);
        layout->addLayout(buttons);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
    Entry entry() const
    {
        return Entry{fields[0]->text().trimmed(), fields[1]->text().trimmed(), fields[2]->text().trimmed(),
                     fields[3]->text().trimmed()};
    }
    QLineEdit* fields[4];
};

class AddressBook : public QMainWindow {
public:
    AddressBook()
    {
        setObjectName(QStringLiteral("mainWindow"));
        setWindowTitle(tr("Address Book"));
        resize(640, 480);
        QMenu* file = menuBar()->addMenu(tr("File"));
        file->addAction(tr("New"), this, [this] {
            setEntries({});
            statusBar()->showMessage(tr("New address book"));
        });
        file->addAction(tr("Open"), this, [this] {
            setEntries({{"Ada", "Lovelace", "ada@example.org", "+44 20 0001"},
                        {"Alan", "Turing", "alan@example.org", "+44 20 0002"},
                        {"Grace", "Hopper", "grace@example.org", "+1 202 0003"}});
            statusBar()->showMessage(tr("Opened 3 entries"));
        });
        file->addSeparator();
        file->addAction(tr("Quit"), qApp, &QApplication::quit);
        QMenu* edit = menuBar()->addMenu(tr("Edit"));
        edit->addAction(tr("Add"), this, [this] { addEntry(); });
        removeAction = edit->addAction(tr("Remove"), this, [this] { removeEntry(); });

        table = new QTableWidget(0, 4);
        table->setObjectName(QStringLiteral("entries"));
        table->setHorizontalHeaderLabels({tr("First name"), tr("Last name"), tr("E-mail"), tr("Phone")});
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->horizontalHeader()->setStretchLastSection(true);
        addButton = new QPushButton(tr("Add"));
        addButton->setObjectName(QStringLiteral("addButton"));
        editButton = new QPushButton(tr("Edit"));
        editButton->setObjectName(QStringLiteral("editButton"));
        removeButton = new QPushButton(tr("Remove"));
        removeButton->setObjectName(QStringLiteral("removeButton"));
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(addButton);
        buttons->addWidget(editButton);
        buttons->addWidget(removeButton);
        buttons->addStretch();
        auto* central = new QWidget;
        auto* layout = new QHBoxLayout(central);
        layout->addWidget(table);
        layout->addLayout(buttons);
        setCentralWidget(central);
        statusBar()->showMessage(tr("Ready"));

        connect(addButton, &QPushButton::clicked, this, [this] { addEntry(); });
        connect(editButton, &QPushButton::clicked, this, [this] { editEntry(); });
        connect(removeButton, &QPushButton::clicked, this, [this] { removeEntry(); });
        connect(table, &QTableWidget::itemSelectionChanged, this, [this] { updateButtons(); });
        connect(table, &QTableWidget::cellDoubleClicked, this, [this] { editEntry(); });
        updateButtons();
    }

private:
    int selectedRow() const
    {
        const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
        return ranges.isEmpty() ? -1 : ranges.first().topRow();
    }

    void updateButtons()
    {
        const bool selected = selectedRow() >= 0;
        editButton->setEnabled(selected);
        removeButton->setEnabled(selected);
        removeAction->setEnabled(selected);
    }

    void setEntries(const QList<Entry>& list)
    {
        entries = list;
        table->setRowCount(0);
        for (const Entry& e : entries)
            appendRow(e);
        table->clearSelection();
        updateButtons();
    }

    void appendRow(const Entry& e)
    {
        const int row = table->rowCount();
        table->insertRow(row);
        setRow(row, e);
    }

    void setRow(int row, const Entry& e)
    {
        const QStringList fields = e.fields();
        for (int c = 0; c < 4; ++c)
            table->setItem(row, c, new QTableWidgetItem(fields.at(c)));
    }

    // A modal dialog in its own event loop; an entry needs a first or a last name.
    bool askForEntry(const QString& title, Entry* entry)
    {
        EntryDialog dialog(this, title, *entry);
        while (dialog.exec() == QDialog::Accepted) {
            *entry = dialog.entry();
            if (!entry->first.isEmpty() || !entry->last.isEmpty())
                return true;
            statusBar()->showMessage(tr("A first or last name is required"));
        }
        statusBar()->showMessage(tr("Cancelled"));
        return false;
    }

    void addEntry()
    {
        Entry entry;
        if (!askForEntry(tr("Add Entry"), &entry))
            return;
        entries << entry;
        appendRow(entry);
        statusBar()->showMessage(tr("Added %1 %2").arg(entry.first, entry.last));
    }

    void editEntry()
    {
        const int row = selectedRow();
        if (row < 0)
            return;
        Entry entry = entries.at(row);
        if (!askForEntry(tr("Edit Entry"), &entry))
            return;
        entries[row] = entry;
        setRow(row, entry);
        statusBar()->showMessage(tr("Updated %1 %2").arg(entry.first, entry.last));
    }

    void removeEntry()
    {
        const int row = selectedRow();
        if (row < 0)
            return;
        const Entry entry = entries.takeAt(row);
        table->removeRow(row);
        table->clearSelection();
        updateButtons();
        statusBar()->showMessage(tr("Removed %1 %2").arg(entry.first, entry.last));
    }

    QList<Entry> entries;
    QTableWidget* table;
    QPushButton* addButton;
    QPushButton* editButton;
    QPushButton* removeButton;
    QAction* removeAction;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    AddressBook book;
    book.show();
    // --smoke: a start-up check; quits as soon as the window shows and events run.
    if (app.arguments().contains(QStringLiteral("--smoke")))
        QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
