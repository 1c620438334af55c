#include "support/HeifGrids.h"

#include "support/CameraPictures.h"
#include "support/IsoBoxes.h"
#include "support/ResizedAv1.h"
#include "support/TestPictures.h"

#include <QList>

#include <algorithm>
#include <stdexcept>

namespace {

// One tile as libheif encodes it alone: its coded data and the properties that describe it.
struct Tile {
    QByteArray data;
    QList<QByteArray> properties;  // the codec's configuration first
};

Tile encodedTile(const BgrxImage& picture, int x0, int y0, const HeifGrid& grid) {
    const BgrxImage part = MakePicture(grid.tileWidth, grid.tileHeight, [&](int x, int y) {
        return ColourAt(picture, std::min(x0 + x, picture.width() - 1),
                        std::min(y0 + y, picture.height() - 1));
    });
    if (grid.frameDenominator != 0) {
        if (!grid.avif) {
            throw std::runtime_error("only AV1 tiles are coded smaller than stated");
        }
        const ResizedAv1 resized = ResizedAv1Of(part, grid.frameDenominator);
        return {resized.units, {resized.av1C}};
    }
    const QByteArray file = HeifBytesOf(part, grid.avif, grid.bits, 1, grid.quality);
    const std::vector<IsoBox> boxes = IsoBoxesOf(file);
    const IsoItems items = IsoItemsOf(file, boxes);
    const IsoItem& coded = items.item(items.primary);
    if (coded.type != (grid.avif ? "av01" : "hvc1")) {
        throw std::runtime_error("libheif encoded the tile as " + coded.type);
    }
    Tile tile{items.dataOf(file, coded), {}};
    for (const char* type : {grid.avif ? "av1C" : "hvcC", "colr", "pixi"}) {
        if (const IsoBox* box = items.property(coded, type)) {
            tile.properties.append(file.mid(box->at, box->size));
        }
    }
    return tile;
}

QByteArray ispe(int width, int height) {
    return IsoFullBoxBytes("ispe", 0, 0, BigEndian(width, 4) + BigEndian(height, 4));
}

QByteArray infe(std::uint32_t id, const char* type, bool hidden) {
    return IsoFullBoxBytes(
        "infe", 2, hidden ? 1 : 0,
        BigEndian(id, 2) + BigEndian(0, 2) + QByteArray(type, 4) + QByteArray(1, '\0'));
}

}  // namespace

QByteArray HeifGridBytesOf(const BgrxImage& picture, const HeifGrid& grid) {
    const int places = grid.columns * grid.rows;
    std::vector<Tile> tiles;
    for (int k = 0; k < (grid.oneTile ? 1 : places); ++k) {
        tiles.push_back(encodedTile(picture, k % grid.columns * grid.tileWidth,
                                    k / grid.columns * grid.tileHeight, grid));
    }
    const int width = grid.width > 0 ? grid.width : grid.columns * grid.tileWidth;
    const int height = grid.height > 0 ? grid.height : grid.rows * grid.tileHeight;
    const bool wide = width > 0xFFFF || height > 0xFFFF;
    const QByteArray descriptor = BigEndian(0, 1) + BigEndian(wide ? 1 : 0, 1) +
                                  BigEndian(grid.rows - 1, 1) + BigEndian(grid.columns - 1, 1) +
                                  BigEndian(width, wide ? 4 : 2) + BigEndian(height, wide ? 4 : 2);

    // The properties, each once, and each item's (1-based; essential ones marked).
    QList<QByteArray> properties;
    const auto index = [&](const QByteArray& box) {
        qsizetype i = properties.indexOf(box);
        if (i < 0) {
            properties.append(box);
            i = properties.size() - 1;
        }
        return std::uint32_t(i + 1);
    };
    QByteArray ipma;
    std::vector<std::uint32_t> gridProperties{
        index(ispe(grid.statedWidth > 0 ? grid.statedWidth : width,
                   grid.statedHeight > 0 ? grid.statedHeight : height))};
    const QByteArray irot = IsoBoxBytes("irot", BigEndian(grid.turns, 1));
    if (grid.turns != 0 && grid.turnFirst) {
        gridProperties.push_back(0x80 | index(irot));
    }
    if (grid.cropWidth > 0) {
        gridProperties.push_back(
            0x80 | index(IsoBoxBytes("clap", BigEndian(grid.cropWidth, 4) + BigEndian(1, 4) +
                                                 BigEndian(grid.cropHeight, 4) + BigEndian(1, 4) +
                                                 BigEndian(0, 4) + BigEndian(1, 4) +
                                                 BigEndian(0, 4) + BigEndian(1, 4))));
    }
    if (grid.turns != 0 && !grid.turnFirst) {
        gridProperties.push_back(0x80 | index(irot));
    }
    ipma += BigEndian(1, 2) + BigEndian(std::uint32_t(gridProperties.size()), 1);
    for (const std::uint32_t p : gridProperties) {
        ipma += BigEndian(p, 1);
    }
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        std::vector<std::uint32_t> own{0x80 | index(tiles[t].properties.front()),
                                       index(ispe(grid.tileWidth, grid.tileHeight))};
        for (qsizetype k = 1; k < tiles[t].properties.size(); ++k) {
            own.push_back(index(tiles[t].properties[k]));
        }
        ipma += BigEndian(std::uint32_t(t + 2), 2) + BigEndian(std::uint32_t(own.size()), 1);
        for (const std::uint32_t p : own) {
            ipma += BigEndian(p, 1);
        }
    }
    if (properties.size() > 127) {
        throw std::runtime_error("too many properties for a small ipma");
    }

    // The capture data's items come after the tiles, their data after the tiles' in mdat.
    std::vector<QByteArray> described;
    QByteArray descriptions;
    QByteArray metadataInfe;
    const auto describe = [&](const QByteArray& data, const char* type, const char* content) {
        const auto id = std::uint32_t(tiles.size() + 2 + described.size());
        described.push_back(data);
        descriptions += IsoBoxBytes("cdsc", BigEndian(id, 2) + BigEndian(1, 2) + BigEndian(1, 2));
        metadataInfe += IsoFullBoxBytes(
            "infe", 2, 0,
            BigEndian(id, 2) + BigEndian(0, 2) + QByteArray(type, 4) + QByteArray(1, '\0') +
                (content != nullptr ? QByteArray(content) + '\0' : QByteArray()));
    };
    if (!grid.exif.isEmpty()) {
        // The offset of the TIFF header: a block given with a JPEG's "Exif\0\0" keeps it.
        describe(BigEndian(grid.exif.startsWith(QByteArray("Exif\0\0", 6)) ? 6 : 0, 4) + grid.exif,
                 "Exif", nullptr);
    }
    if (!grid.xmp.isEmpty()) {
        describe(grid.xmp, "mime", "application/rdf+xml");
    }
    QByteArray iinf =
        BigEndian(std::uint32_t(tiles.size() + 1 + described.size()), 2) + infe(1, "grid", false);
    QByteArray dimg = BigEndian(1, 2) + BigEndian(places, 2);
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        iinf += infe(std::uint32_t(t + 2), grid.avif ? "av01" : "hvc1", true);
    }
    iinf += metadataInfe;
    for (int k = 0; k < places; ++k) {
        dimg += BigEndian(grid.oneTile ? 2 : std::uint32_t(k + 2), 2);
    }
    const QByteArray ftyp =
        IsoBoxBytes("ftyp", grid.avif ? QByteArray("avif\0\0\0\0avifmif1miaf", 20)
                                      : QByteArray("heic\0\0\0\0mif1heic", 16));
    QByteArray ipco;
    for (const QByteArray& p : properties) {
        ipco += p;
    }
    const auto metaWith = [&](std::uint32_t dataStart) {
        // Item locations, version 1 for the grid's descriptor in idat: 4-byte offsets and
        // lengths, no base offsets.
        QByteArray iloc = BigEndian(0x44, 1) + BigEndian(0, 1) +
                          BigEndian(std::uint32_t(tiles.size() + 1 + described.size()), 2) +
                          BigEndian(1, 2) + BigEndian(1, 2) + BigEndian(0, 2) + BigEndian(1, 2) +
                          BigEndian(0, 4) + BigEndian(std::uint32_t(descriptor.size()), 4);
        std::uint32_t at = dataStart;
        for (std::size_t t = 0; t < tiles.size(); ++t) {
            const std::uint32_t length = std::uint32_t(tiles[t].data.size());
            iloc += BigEndian(std::uint32_t(t + 2), 2) + BigEndian(0, 2) + BigEndian(0, 2) +
                    BigEndian(1, 2) + BigEndian(at, 4) + BigEndian(length, 4);
            at += length;
        }
        for (std::size_t d = 0; d < described.size(); ++d) {
            const std::uint32_t length = std::uint32_t(described[d].size());
            iloc += BigEndian(std::uint32_t(tiles.size() + 2 + d), 2) + BigEndian(0, 2) +
                    BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(at, 4) + BigEndian(length, 4);
            at += length;
        }
        return IsoFullBoxBytes(
            "meta", 0, 0,
            IsoFullBoxBytes("hdlr", 0, 0,
                            BigEndian(0, 4) + "pict" + QByteArray(12, '\0') + QByteArray(1, '\0')) +
                IsoFullBoxBytes("pitm", 0, 0, BigEndian(1, 2)) +
                IsoFullBoxBytes("iinf", 0, 0, iinf) +
                IsoFullBoxBytes("iref", 0, 0, IsoBoxBytes("dimg", dimg) + descriptions) +
                IsoBoxBytes("iprp", IsoBoxBytes("ipco", ipco) +
                                        IsoFullBoxBytes(
                                            "ipma", 0, 0,
                                            BigEndian(std::uint32_t(tiles.size() + 1), 4) + ipma)) +
                IsoFullBoxBytes("iloc", 1, 0, iloc) + IsoBoxBytes("idat", descriptor));
    };
    const qsizetype metaSize = metaWith(0).size();
    QByteArray mdat;
    for (const Tile& t : tiles) {
        mdat += t.data;
    }
    for (const QByteArray& d : described) {
        mdat += d;
    }
    return ftyp + metaWith(std::uint32_t(ftyp.size() + metaSize + 8)) + IsoBoxBytes("mdat", mdat);
}
