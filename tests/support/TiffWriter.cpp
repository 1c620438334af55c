#include "support/TiffWriter.h"

#include <algorithm>
#include <cstring>

int TiffWriter::directory(int parent) {
    const int made = int(directories_.size());
    directories_.emplace_back();
    if (parent < 0) {
        chain_.push_back(made);
    } else {
        directories_[parent].children.push_back(made);
    }
    return made;
}

QByteArray TiffWriter::number(std::uint32_t v, int width) const {
    QByteArray b;
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (bigEndian_ ? width - 1 - i : i);
        b += char(v >> shift & 0xFF);
    }
    return b;
}

void TiffWriter::add(int directory, Entry entry) {
    auto& entries = directories_[directory].entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return e.tag == entry.tag; }),
                  entries.end());
    entries.push_back(std::move(entry));
}

void TiffWriter::shorts(int directory, std::uint16_t tag, const std::vector<std::uint16_t>& v) {
    QByteArray b;
    for (const auto x : v) {
        b += number(x, 2);
    }
    add(directory, {tag, 3, std::uint32_t(v.size()), b});
}

void TiffWriter::longs(int directory, std::uint16_t tag, const std::vector<std::uint32_t>& v) {
    QByteArray b;
    for (const auto x : v) {
        b += number(x, 4);
    }
    add(directory, {tag, 4, std::uint32_t(v.size()), b});
}

void TiffWriter::text(int directory, std::uint16_t tag, const char* s) {
    const auto length = qsizetype(std::strlen(s) + 1);
    add(directory, {tag, 2, std::uint32_t(length), QByteArray(s, length)});
}

void TiffWriter::bytes(int directory, std::uint16_t tag, std::uint16_t type, const QByteArray& v) {
    add(directory, {tag, type, std::uint32_t(v.size()), v});
}

void TiffWriter::rationals(int directory, std::uint16_t tag, std::uint16_t type,
                           const std::vector<double>& v) {
    QByteArray b;
    for (const double x : v) {
        b += number(std::uint32_t(std::int32_t(x * 10000)), 4) + number(10000, 4);
    }
    add(directory, {tag, type, std::uint32_t(v.size()), b});
}

void TiffWriter::blocks(int directory, std::uint16_t offsetsTag, std::uint16_t countsTag,
                        const std::vector<QByteArray>& blocks, const std::vector<int>& entries) {
    Directory& d = directories_[directory];
    d.blocks = blocks;
    d.named = entries;
    if (d.named.empty()) {
        for (int i = 0; i < int(blocks.size()); ++i) {
            d.named.push_back(i);
        }
    }
    std::vector<std::uint32_t> sizes;
    for (const int i : d.named) {
        sizes.push_back(std::uint32_t(blocks[i].size()));
    }
    Entry offsets{offsetsTag, 4, std::uint32_t(sizes.size()), QByteArray(4 * sizes.size(), '\0')};
    offsets.blockList = directory;
    add(directory, offsets);
    longs(directory, countsTag, sizes);
}

QByteArray TiffWriter::file() const {
    // Directories in the order of the chain, each followed by those below it.
    std::vector<int> order;
    std::vector<int> pending(chain_.rbegin(), chain_.rend());
    while (!pending.empty()) {
        const int d = pending.back();
        pending.pop_back();
        order.push_back(d);
        const auto& children = directories_[d].children;
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    std::vector<std::uint32_t> at(directories_.size());
    std::uint32_t end = 8;
    for (const int d : order) {
        at[d] = end;
        const auto children = std::uint32_t(directories_[d].children.size());
        end += 2 + 12 * std::uint32_t(directories_[d].entries.size() + (children > 0)) + 4;
        for (const Entry& e : directories_[d].entries) {
            const auto size = std::uint32_t(e.values.size());
            if (size > 4) {
                end += size + (size & 1);
            }
        }
        if (children > 1) {
            end += 4 * children;  // the SubIFDs entry's offsets
        }
    }
    std::vector<std::vector<std::uint32_t>> blockAt(directories_.size());
    for (const int d : order) {
        for (const QByteArray& b : directories_[d].blocks) {
            blockAt[d].push_back(end);
            end += std::uint32_t(b.size());
        }
    }

    QByteArray out = bigEndian_ ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
    out += number(order.empty() ? 0 : at[order.front()], 4);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const int d = order[k];
        std::vector<Entry> entries = directories_[d].entries;
        if (!directories_[d].children.empty()) {
            Entry sub{330, 4, std::uint32_t(directories_[d].children.size()), {}, -1};
            for (const int child : directories_[d].children) {
                sub.values += number(at[child], 4);
            }
            entries.push_back(sub);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        out += number(std::uint32_t(entries.size()), 2);
        QByteArray values;
        std::uint32_t valuesAt = at[d] + 2 + 12 * std::uint32_t(entries.size()) + 4;
        for (Entry& e : entries) {
            if (e.blockList >= 0) {
                e.values.clear();
                for (const int block : directories_[e.blockList].named) {
                    e.values += number(blockAt[e.blockList][block], 4);
                }
            }
            out += number(e.tag, 2) + number(e.type, 2) + number(e.count, 4);
            if (e.values.size() > 4) {
                out += number(valuesAt + std::uint32_t(values.size()), 4);
                values += e.values;
                if (e.values.size() & 1) {
                    values += '\0';
                }
            } else {
                out += e.values + QByteArray(4 - e.values.size(), '\0');
            }
        }
        // The next directory of the chain, when this one is in it and not its last.
        const auto inChain = std::find(chain_.begin(), chain_.end(), d);
        const bool last = inChain == chain_.end() || inChain + 1 == chain_.end();
        out += number(last ? 0 : at[*(inChain + 1)], 4);
        out += values;
    }
    for (const int d : order) {
        for (const QByteArray& b : directories_[d].blocks) {
            out += b;
        }
    }
    return out;
}
