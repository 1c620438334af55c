#include "formats/FormatSamples.h"

// Kinds refused from their first bytes: whatever is made of them is refused too.

std::vector<ContractSample> MetafileSamples() {
    // A placeable metafile's key, then a plain metafile's header: type 1, 9 words of header.
    const QByteArray placeable = QByteArray::fromHex(
        "d7cdc69a0000000000001000100060000000000000000000"
        "010009000003220000000100090000000000");
    const QByteArray plain =
        QByteArray::fromHex("010009000003220000000100090000000000030000000000");
    return {{"placeable", placeable, {22}}, {"plain", plain, {18}}};
}

std::vector<ContractSample> MngSamples() {
    const QByteArray mng = QByteArray::fromHex(
        "8a4d4e470d0a1a0a0000001c4d48445200000010000000100000000100000001000000010000000100000000"
        "0000000049454e44ae426082");
    const QByteArray jng = QByteArray::fromHex("8b4a4e470d0a1a0a0000000049454e44ae426082");
    return {{"MNG header", mng, {8, 48}}, {"JNG header", jng, {8}}};
}
