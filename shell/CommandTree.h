#pragma once
// The console's fixed tree of commands: groups hold commands and further groups, commands hold
// the handler that does the work and the help function that prints its usage text.

#include <string>
#include <vector>

#include "SimpleString.h"

// Runs a command with the words that follow its path on the line (argv[argc] is null). Returns 1
// on success, 0 on failure or after showing the usage text; the reason travels in the thread's
// last-error value.
typedef int (*COMMAND_HANDLER)(unsigned long argc, wchar_t** argv);
// Prints a command's usage text.
typedef void (*COMMAND_HELP)();

// An owning doubly linked list that keeps insertion order.
template <typename T> struct OwnedList {
    struct Node {
        T* item;
        Node* prev;
        Node* next;
    };
    Node* head = nullptr;
    Node* tail = nullptr;
    unsigned long count = 0;

    OwnedList() = default;
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    ~OwnedList() {
        while (T* item = PopFront())
            delete item;
    }
    void Append(T* item) {
        Node* node = new Node{item, tail, nullptr};
        (tail ? tail->next : head) = node;
        tail = node;
        ++count;
    }
    T* PopFront() {
        if (!head)
            return nullptr;
        Node* node = head;
        head = node->next;
        (head ? head->prev : tail) = nullptr;
        --count;
        T* item = node->item;
        delete node;
        return item;
    }
};

// What the words after a command's path can be, for completion at the console's prompt.
enum class WordKind {
    Free,
    // A service's key name on the active connection.
    ServiceName,
    // The number of an open connection.
    ConnectionNumber,
    // One of the words that the command's FIXED_WORDS gives.
    Fixed,
    // A path in the tree, from its root (what `help` takes).
    CommandPath,
};
// Appends the fixed words a command takes, from where the command defines them.
typedef void (*FIXED_WORDS)(std::vector<std::wstring>& words);
struct COMMAND_WORDS {
    WordKind first = WordKind::Free;
    // Every word after the first.
    WordKind rest = WordKind::Free;
    FIXED_WORDS fixed = nullptr;
};

struct _COMMAND {
    SimpleString name;
    SimpleString description;
    COMMAND_HELP help;
    COMMAND_HANDLER handler;
    COMMAND_WORDS words = {};
};

struct _COMMAND_GROUP {
    _COMMAND_GROUP(const wchar_t* groupName, const wchar_t* groupDescription)
        : name(groupName), description(groupDescription) {}

    SimpleString name;
    SimpleString description;
    OwnedList<_COMMAND_GROUP> subgroups;
    OwnedList<_COMMAND> commands;
};

// The command or group of `list` that `word` names: whole, and without regard to case.
template <typename T> T* FindByName(const OwnedList<T>& list, const wchar_t* word) {
    for (auto* node = list.head; node; node = node->next)
        if (node->item->name.CompareNoCase(word) == 0)
            return node->item;
    return nullptr;
}

// The root of the tree; it owns everything below it for the whole run.
extern _COMMAND_GROUP CommandRoot;

_COMMAND_GROUP* AddCommandGroup(_COMMAND_GROUP* parent, const wchar_t* name, const wchar_t* description);
_COMMAND* AddCommand(_COMMAND_GROUP* parent, const wchar_t* name, const wchar_t* description,
                     COMMAND_HELP help, COMMAND_HANDLER handler, const COMMAND_WORDS& words = {});
// Frees a group made by AddCommandGroup and everything below it.
void ReleaseCommandGroup(_COMMAND_GROUP* group);
// Builds the whole command table under CommandRoot (once; later calls change nothing).
void RegisterCommands();

// Walks `first`, then the `count` words of `words`, from `group` down and runs the command
// reached. Returns the handler's result, or 0.
int ExecuteCommand(wchar_t** words, wchar_t* first, _COMMAND_GROUP* group, unsigned long count);

// Why the last command line that ExecuteCommand walked ran nothing, when it is the line's own
// fault: ERROR_INVALID_FUNCTION for a word that names no command (a group named without one of its
// commands included), ERROR_INVALID_PARAMETER for words that the command does not take (its usage
// was shown); 0 otherwise. It is kept apart from the last-error value, so that the loops show no
// banner after the listing or usage that already says what went wrong, while batch mode can end
// with it.
unsigned long CommandLineSlip();
void NoteCommandLineSlip(unsigned long code);
// The same walk, showing the usage text of the command or the listing of the group reached.
// Returns 1 when a named command or group was reached.
int ShowCommandHelp(wchar_t** words, wchar_t* first, _COMMAND_GROUP* group, unsigned long count);
void ListCommands(const _COMMAND_GROUP* group);
// Draws a group and everything below it; `extended` selects the OEM box-drawing characters.
void PrintCommandTree(const _COMMAND_GROUP* group, int extended, const SimpleString& prefix);
