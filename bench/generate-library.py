#!/usr/bin/env python3
"""Writes a music-library-shaped XML property list of about --size-mb megabytes: a root dictionary whose
"Tracks" is a dictionary of track dictionaries (keys differing from track to track) and whose "Playlists" is
an array of playlists holding "Playlist Items". For timing `convert --select /Tracks` against the root."""
import argparse
import random

HEAD = ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
        '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0">\n<dict>\n'
        '\t<key>Major Version</key><integer>1</integer>\n\t<key>Minor Version</key><integer>1</integer>\n'
        '\t<key>Application Version</key><string>12.9.5.5</string>\n\t<key>Tracks</key>\n\t<dict>\n')
GENRES = ["Rock", "Jazz", "Klassik", "Électronique", "ポップ", "Folk"]


def track(rng, track_id):
    out = [f'\t\t<key>{track_id}</key>\n\t\t<dict>\n',
           f'\t\t\t<key>Track ID</key><integer>{track_id}</integer>\n',
           f'\t\t\t<key>Name</key><string>Song {track_id} &amp; more</string>\n',
           f'\t\t\t<key>Artist</key><string>Artist {rng.randrange(5000)}</string>\n',
           f'\t\t\t<key>Album</key><string>Album {rng.randrange(20000)}</string>\n',
           f'\t\t\t<key>Genre</key><string>{rng.choice(GENRES)}</string>\n',
           '\t\t\t<key>Kind</key><string>MPEG audio file</string>\n',
           f'\t\t\t<key>Size</key><integer>{rng.randrange(10**6, 10**8)}</integer>\n',
           f'\t\t\t<key>Total Time</key><integer>{rng.randrange(60000, 600000)}</integer>\n',
           f'\t\t\t<key>Date Added</key><date>2019-0{rng.randrange(1, 10)}-1{rng.randrange(10)}T10:2{rng.randrange(10)}:00Z</date>\n']
    if rng.random() < 0.5:
        out.append(f'\t\t\t<key>Play Count</key><integer>{rng.randrange(200)}</integer>\n')
    if rng.random() < 0.3:
        out.append(f'\t\t\t<key>Rating</key><integer>{rng.randrange(0, 101, 20)}</integer>\n')
    out.append(f'\t\t\t<key>Persistent ID</key><string>{rng.getrandbits(64):016X}</string>\n')
    out.append(f'\t\t\t<key>Location</key><string>file:///Users/u/Music/{track_id:08d}.mp3</string>\n\t\t</dict>\n')
    return ''.join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--size-mb', type=float, default=500)
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('output')
    args = parser.parse_args()
    rng = random.Random(args.seed)
    limit = int(args.size_mb * 1e6)
    with open(args.output, 'w', encoding='utf-8') as f:
        f.write(HEAD)
        written, track_id = len(HEAD), 0
        while written < limit * 0.97:
            track_id += 1
            text = track(rng, track_id)
            f.write(text)
            written += len(text.encode('utf-8'))
        f.write('\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n\t\t\t<key>Name</key><string>Library</string>\n'
                '\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n')
        for item in range(1, track_id + 1, 3):
            f.write(f'\t\t\t\t<dict><key>Track ID</key><integer>{item}</integer></dict>\n')
        f.write('\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n')


if __name__ == '__main__':
    main()
