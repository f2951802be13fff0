#!/bin/sh
# make_stubs.sh LIBRARY OUTPUT.S: writes, for every GTK function LIBRARY calls (its undefined gtk_*
# symbols), an x86-64 stub that jumps through a slot of dialsaver_gtk_slots; each slot starts at a
# resolver that loads GTK and fills every slot (gtk_on_demand.cpp), then goes on to the function called.
set -eu
library=$1
output=$2
names=$(nm -u "$library" | awk '$1 == "U" && $2 ~ /^gtk_/ { print $2 }' | sort -u)
[ -n "$names" ] || { echo "make_stubs.sh: $library calls no GTK function" >&2; exit 1; }
{
  echo '# Made by make_stubs.sh from the GTK functions the GTK back end calls.'
  echo '  .section .note.GNU-stack,"",@progbits'
  echo '  .text'
  i=0
  for name in $names; do
    cat <<STUB
  .p2align 4
  .globl $name
  .type $name, @function
$name:
  endbr64
  jmp *dialsaver_gtk_slots+8*$i(%rip)
  .size $name, .-$name
  .p2align 4
.Lresolve_$i:
  endbr64
  pushq \$$i
  jmp dialsaver_gtk_resolve_common
STUB
    i=$((i + 1))
  done
  # The argument registers (those of variadic calls too) are kept across the resolver. On entry the
  # stack holds the slot's index above the caller's return address; after the seven pushes and the room
  # for eight vector registers it is aligned again for the call.
  registers="rdi rsi rdx rcx r8 r9 rax"
  echo '  .p2align 4'
  echo '  .type dialsaver_gtk_resolve_common, @function'
  echo 'dialsaver_gtk_resolve_common:'
  for r in $registers; do echo "  pushq %$r"; done
  echo '  subq $136, %rsp'
  for v in 0 1 2 3 4 5 6 7; do echo "  movdqu %xmm$v, $((16 * v))(%rsp)"; done
  echo '  movl 192(%rsp), %edi'
  echo '  call dialsaver_gtk_resolve@PLT'
  echo '  movq %rax, %r11'
  for v in 0 1 2 3 4 5 6 7; do echo "  movdqu $((16 * v))(%rsp), %xmm$v"; done
  echo '  addq $136, %rsp'
  for r in $(echo $registers | tr ' ' '\n' | tac); do echo "  popq %$r"; done
  echo '  addq $8, %rsp'
  echo '  jmp *%r11'
  echo '  .size dialsaver_gtk_resolve_common, .-dialsaver_gtk_resolve_common'
  echo '  .data'
  echo '  .p2align 3'
  echo '  .globl dialsaver_gtk_slots'
  echo '  .hidden dialsaver_gtk_slots'
  echo 'dialsaver_gtk_slots:'
  i=0
  for name in $names; do echo "  .quad .Lresolve_$i"; i=$((i + 1)); done
  echo '  .section .rodata'
  i=0
  for name in $names; do echo ".Lname_$i: .asciz \"$name\""; i=$((i + 1)); done
  echo '  .section .data.rel.ro,"aw"'
  echo '  .p2align 3'
  echo '  .globl dialsaver_gtk_names'
  echo '  .hidden dialsaver_gtk_names'
  echo 'dialsaver_gtk_names:'
  i=0
  for name in $names; do echo "  .quad .Lname_$i"; i=$((i + 1)); done
  echo '  .p2align 2'
  echo '  .globl dialsaver_gtk_count'
  echo '  .hidden dialsaver_gtk_count'
  echo 'dialsaver_gtk_count:'
  echo "  .long $i"
} >"$output.tmp"
mv "$output.tmp" "$output"
