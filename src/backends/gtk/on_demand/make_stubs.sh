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
  cat <<'COMMON'
# The argument registers (those of variadic calls too) are kept across the resolver. On entry the stack
# holds the slot's index above the caller's return address.
  .p2align 4
  .type dialsaver_gtk_resolve_common, @function
dialsaver_gtk_resolve_common:
  pushq %rdi
  pushq %rsi
  pushq %rdx
  pushq %rcx
  pushq %r8
  pushq %r9
  pushq %rax
  subq $136, %rsp
  movdqu %xmm0, 0(%rsp)
  movdqu %xmm1, 16(%rsp)
  movdqu %xmm2, 32(%rsp)
  movdqu %xmm3, 48(%rsp)
  movdqu %xmm4, 64(%rsp)
  movdqu %xmm5, 80(%rsp)
  movdqu %xmm6, 96(%rsp)
  movdqu %xmm7, 112(%rsp)
  movl 192(%rsp), %edi
  call dialsaver_gtk_resolve@PLT
  movq %rax, %r11
  movdqu 0(%rsp), %xmm0
  movdqu 16(%rsp), %xmm1
  movdqu 32(%rsp), %xmm2
  movdqu 48(%rsp), %xmm3
  movdqu 64(%rsp), %xmm4
  movdqu 80(%rsp), %xmm5
  movdqu 96(%rsp), %xmm6
  movdqu 112(%rsp), %xmm7
  addq $136, %rsp
  popq %rax
  popq %r9
  popq %r8
  popq %rcx
  popq %rdx
  popq %rsi
  popq %rdi
  addq $8, %rsp
  jmp *%r11
  .size dialsaver_gtk_resolve_common, .-dialsaver_gtk_resolve_common
COMMON
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
