// Surface rings, clones and their notifications (both builds).
#include "core/mm_surface.h"

// ---- MmSurface ------------------------------------------------------------------------------

MmSurface::~MmSurface() {
  // The clones themselves belong to their owners; a master that goes
  // without being destroyed through its manager still lets them go, so none
  // keeps pointing at it or into its memory.
  if (cloneList != nullptr) {
    while (cloneList->next != cloneList) {
      MmSurface* clone = cloneList->next;
      clone->Unlink();
      clone->ForgetMasterMemory();
      clone->master = nullptr;
      clone->listRole = kRoleSurface;
    }
    delete cloneList;
    cloneList = nullptr;
  }
}

void MmSurface::InsertAfter(MmSurface* head) {
  previous = head;
  next = head->next;
  head->next->previous = this;
  head->next = this;
}

void MmSurface::Unlink() {
  if (next != nullptr && previous != nullptr) {
    previous->next = next;
    next->previous = previous;
  }
  next = previous = nullptr;
}

bool MmSurface::InitList(MmSurface** head) {
  MmSurface* list = new MmSurface();
  if (list == nullptr) return false;
  list->listRole = kRoleListHead;
  list->next = list->previous = list;
  *head = list;
  return true;
}

void MmSurface::DeleteList(MmSurface** head) {
  MmSurface* list = *head;
  if (list == nullptr) return;
  while (list->next != list) {
    MmSurface* surface = list->next;
    surface->Unlink();
    delete surface;
  }
  delete list;
  *head = nullptr;
}

// ---- Clones -----------------------------------------------------------------------------------

bool MmSurface::CreateClone(MmSurface* clone) {
  if (cloneList == nullptr && !InitList(&cloneList)) return false;
  clone->master = this;
  clone->listRole = kRoleClone;
  clone->InsertAfter(cloneList);
  clone->UpdateMembersFromMaster();
  clone->OnRestore();
  return true;
}

void MmSurface::UpdateMembersFromMaster() {
  if (master == nullptr) return;
  options.heapSelector = master->options.heapSelector;
  options.requestedKind = master->options.requestedKind;
  options.flags = master->options.flags;
  options.unit = master->options.unit;
  options.physicalSize = master->options.physicalSize;
  options.alignment = master->options.alignment;
  options.mapper = master->options.mapper;
  options.desc = master->options.desc;
  manager = master->manager;
  lockMapper = master->lockMapper;
  shared = master->shared;
  placedKind = master->placedKind;
  windowBarred = master->windowBarred;
  if (cloneFlags & kCloneAttachesToBlock) {
    if (master->block != nullptr) {
      AttachToBlock(master->block);
    } else if (block != nullptr) {
      DetachFromBlock();
    }
  } else {
    block = master->block;
    busWord = master->busWord;
    aperture = master->aperture;
    cpuAddress = master->cpuAddress;
  }
}

// The master's memory is going away: keep nothing that points into it.
void MmSurface::ForgetMasterMemory() {
  if (cloneFlags & kCloneAttachesToBlock) {
    if (block != nullptr) DetachFromBlock();
  } else {
    block = nullptr;
    busWord = 0;
    aperture = nullptr;
    cpuAddress = nullptr;
  }
}

bool MmSurface::DetachCloneFromMaster() {
  if (master == nullptr) return true;
  if (cloneFlags & kCloneAttachesToBlock) DetachFromBlock();
  listRole = kRoleSurface;
  block = nullptr;
  aperture = nullptr;
  Unlink();
  master = nullptr;
  OnDestroy();
  return true;
}

bool MmSurface::CreateCloneApertureFrom(MmHostAperture* foreign) {
  if (foreign != nullptr) {
    options.flags |= kSurfForeignAperture;
    aperture = foreign;
  }
  return true;
}

bool MmSurface::OnDiscard() {
  if (cloneList != nullptr) {
    for (MmSurface* clone = cloneList->next; clone != cloneList;) {
      MmSurface* following = clone->next;
      clone->OnDiscardMaster();
      clone = following;
    }
  }
  return true;
}

void MmSurface::OnDestroy() {
  if (cloneList == nullptr) return;
  for (MmSurface* clone = cloneList->next; clone != cloneList;) {
    MmSurface* following = clone->next;
    clone->OnDestroyMaster();
    clone->master = nullptr;
    clone = following;
  }
}

void MmSurface::OnRestore() {
  if (cloneList == nullptr) return;
  for (MmSurface* clone = cloneList->next; clone != cloneList;) {
    MmSurface* following = clone->next;
    clone->OnRestoreMaster();
    clone = following;
  }
}

void MmSurface::OnDestroyMaster() {
  UpdateMembersFromMaster();
  ForgetMasterMemory();
  listRole = kRoleSurface;
  Unlink();
}

void MmSurface::OnDiscardMaster() { UpdateMembersFromMaster(); }

void MmSurface::OnRestoreMaster() { UpdateMembersFromMaster(); }
