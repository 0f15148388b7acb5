#pragma once

// A descriptor set as select reads it, sized for the highest descriptor: the
// relay's may lie past FD_SETSIZE (the caller left many open), which select
// takes (a Mac's with _DARWIN_UNLIMITED_SELECT) and FD_SET would refuse.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <sys/select.h>
#include <type_traits>
#include <utility>
#include <vector>

struct ReadySet {
    using Word = std::remove_reference_t<decltype(std::declval<fd_set&>().fds_bits[0])>;
    static constexpr int bitsPerWord = sizeof(Word) * CHAR_BIT;
    std::vector<Word> words;

    explicit ReadySet(int highest) : words(std::max(sizeof(fd_set) / sizeof(Word), std::size_t(highest) / bitsPerWord + 1)) {}
    void clear() { std::fill(words.begin(), words.end(), Word(0)); }
    void add(int fd) { words[std::size_t(fd) / bitsPerWord] |= Word(1) << (fd % bitsPerWord); }
    bool has(int fd) const { return (words[std::size_t(fd) / bitsPerWord] >> (fd % bitsPerWord)) & 1; }
    fd_set* get() { return reinterpret_cast<fd_set*>(words.data()); }
    fd_set* only(int fd)
    {
        clear();
        add(fd);
        return get();
    }
};
