#!/bin/sh
# Makes a FAT image with real tools, lays it out as the stripes of a 3-member
# RAID5 (64 KiB stripes, left-asymmetric) and of a RAID0 pair, and checks that
# `hbprobe read` gives the original image back, byte for byte, through each set,
# through a range of a JBOD and through a chain nested several levels deep.
#
#   make-raid.sh PROBE DIR
#
# Everything is made in DIR. Prints one "ok ..." line per check; exits 1 at the
# first mismatch.
set -eu

probe=$1
dir=$2
stripe=65536
kib=8192 # image size in KiB

export SOURCE_DATE_EPOCH=1700000000
export MTOOLS_SKIP_CHECK=1
export TZ=UTC

cd "$dir"
img=fat.img
rm -f "$img"
mkfs.fat -C -i 0x1234abcd -n HBRAID "$img" $kib >/dev/null
seq 1 400000 >numbers.txt
awk 'BEGIN { for (i = 0; i < 60000; i++) printf "%d%c", (i * 7919) % 104729, i % 26 + 65 }' >hashes.txt
mmd -i "$img" ::/docs
mcopy -i "$img" numbers.txt ::/numbers.txt
mcopy -i "$img" hashes.txt ::/docs/hashes.txt
size=$(stat -c %s "$img")
blocks=$((size / stripe))

# The stripe that the reader must never hand out: parity is not data.
printf 'PARITY--%.0s' $(seq 1 $((stripe / 8))) >parity.blk

# dd one stripe: put_block SRC SRC_BLOCK DEST DEST_BLOCK
put_block() {
    dd if="$1" of="$3" bs=$stripe skip="$2" seek="$4" count=1 conv=notrunc status=none
}

# RAID5 over members m0..m2: row r keeps its parity on member 2 - (r mod 3) and
# its two data stripes, in order, on the other two members from member 0 on.
rm -f r5-0.img r5-1.img r5-2.img
row=0
while [ $((row * 2)) -lt $blocks ]; do
    parity=$((2 - row % 3))
    block=$((row * 2))
    for m in 0 1 2; do
        if [ $m -eq $parity ]; then
            put_block parity.blk 0 r5-$m.img $row
        else
            put_block "$img" $block r5-$m.img $row
            block=$((block + 1))
        fi
    done
    row=$((row + 1))
done

# RAID0 pair: stripe b on member b mod 2, row b / 2.
rm -f r0-0.img r0-1.img
block=0
while [ $block -lt $blocks ]; do
    put_block "$img" $block r0-$((block % 2)).img $((block / 2))
    block=$((block + 1))
done

check() { # check NAME DESCRIPTOR [KNOWN]
    name=$1
    descr=$2
    if [ $# -ge 3 ]; then
        "$probe" read --known "$3" "$descr" 0 "$size" >"out-$name.img"
    else
        "$probe" read "$descr" 0 "$size" >"out-$name.img"
    fi
    if ! cmp "$img" "out-$name.img"; then
        echo "FAIL $name: $descr" >&2
        exit 1
    fi
    echo "ok $name"
}

r5="id=r5|type=raid5|components=$dir/r5-0.img,$dir/r5-1.img,$dir/r5-2.img|blockSize=$stripe"
r0="id=r0|type=raid0|components=$dir/r0-0.img, $dir/r0-1.img|blockSize=$stripe"
check raid5 "$r5"
check raid0 "$r0"

# A range of a JBOD: the set lies between two other images.
head -c 12345 numbers.txt >pre.img
head -c 54321 hashes.txt >post.img
{
    echo "$r5"
    echo "id=j|type=jbod|components=$dir/pre.img,r5,$dir/post.img"
} >known-jbod.txt
check jbod-range "id=top|type=range|components=j|rangeOffset=12345|rangeSize=$size" known-jbod.txt

# Nested: the RAID0 members as ranges of one file that holds both, the set
# between two images in a JBOD, a range of that, and a JBOD of it and the RAID5;
# the top range takes either half.
half=$((size / 2))
cat r0-0.img r0-1.img >pair.img
{
    echo "id=h0|type=range|components=$dir/pair.img|rangeOffset=0|rangeSize=$half"
    echo "id=h1|type=range|components=$dir/pair.img|rangeOffset=$half|rangeSize=$half"
    echo "id=set|type=raid0|components=h0,h1|blockSize=$stripe"
    echo "id=wrap|type=jbod|components=$dir/pre.img,set,$dir/post.img"
    echo "id=inner|type=range|components=wrap|rangeOffset=12345|rangeSize=$size"
    echo "$r5"
    echo "id=both|type=jbod|components=inner,r5"
} >known-nested.txt
check nested "id=top|type=range|components=both|rangeOffset=0|rangeSize=$size" known-nested.txt
check nested-second "id=top|type=range|components=both|rangeOffset=$size|rangeSize=$size" known-nested.txt

# The recomposed image is still a file system: its files come back out.
mcopy -i out-nested.img ::/docs/hashes.txt back.txt
cmp hashes.txt back.txt
echo "ok files"

# Reads that start and end inside stripes.
for at in 1 65535 65500 131000 $((size - 70000)); do
    "$probe" read "$r5" $at 70000 >piece.bin
    tail -c +$((at + 1)) "$img" | head -c 70000 >want.bin
    cmp want.bin piece.bin
done
echo "ok pieces"
